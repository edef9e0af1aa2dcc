// The system reference clock (CLSID_SystemClock): the monotonic clock in 100-ns units, with
// one-shot advises that set an event when their time comes. A thread of the clock's own watches the
// advises; it starts with the first one.
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include <streams.h>

#include "platform/system/com/ClassRegistry.h"

namespace lumacap::dshow {
namespace {

REFERENCE_TIME Now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
               .count() /
           100;
}

class SystemClock final : public CUnknown, public IReferenceClock {
public:
    explicit SystemClock(HRESULT* phr) : CUnknown(NAME("System Clock"), nullptr, phr) {}

    ~SystemClock() override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_quit = true;
        }
        m_cv.notify_all();
        if (m_thread.joinable()) m_thread.join();
    }

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IReferenceClock)
            return GetInterface(static_cast<IReferenceClock*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }

    // S_FALSE when the time has not moved since it was last read.
    STDMETHODIMP GetTime(REFERENCE_TIME* pTime) override {
        if (!pTime) return E_POINTER;
        const REFERENCE_TIME now = Now();
        std::lock_guard<std::mutex> lock(m_mutex);
        *pTime = now > m_last ? now : m_last;
        const bool moved = *pTime != m_last;
        m_last = *pTime;
        return moved ? S_OK : S_FALSE;
    }

    STDMETHODIMP AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                            DWORD_PTR* pdwAdviseCookie) override {
        if (baseTime + streamTime <= 0) return E_INVALIDARG;
        if (!pdwAdviseCookie) return E_POINTER;
        std::lock_guard<std::mutex> lock(m_mutex);
        *pdwAdviseCookie = ++m_nextCookie;
        m_advises[*pdwAdviseCookie] = {baseTime + streamTime, reinterpret_cast<HANDLE>(hEvent)};
        if (!m_thread.joinable()) m_thread = std::thread([this] { Watch(); });
        m_cv.notify_all();
        return S_OK;
    }

    // Periodic advises release a semaphore, and the platform has none to release.
    STDMETHODIMP AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime, HSEMAPHORE,
                                DWORD_PTR* pdwAdviseCookie) override {
        if (startTime <= 0 || periodTime <= 0) return E_INVALIDARG;
        if (!pdwAdviseCookie) return E_POINTER;
        return E_NOTIMPL;
    }

    STDMETHODIMP Unadvise(DWORD_PTR dwAdviseCookie) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_advises.erase(dwAdviseCookie) ? S_OK : S_FALSE;
    }

private:
    struct Advise {
        REFERENCE_TIME due;
        HANDLE event;
    };

    void Watch() {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_quit) {
            const REFERENCE_TIME now = Now();
            REFERENCE_TIME next = 0;
            for (auto it = m_advises.begin(); it != m_advises.end();) {
                if (it->second.due <= now) {
                    SetEvent(it->second.event);
                    it = m_advises.erase(it);
                    continue;
                }
                if (!next || it->second.due < next) next = it->second.due;
                ++it;
            }
            if (next)
                m_cv.wait_for(lock, std::chrono::nanoseconds((next - now) * 100));
            else
                m_cv.wait(lock);
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::map<DWORD_PTR, Advise> m_advises;
    DWORD_PTR m_nextCookie = 0;
    REFERENCE_TIME m_last = 0;
    bool m_quit = false;
    std::thread m_thread;
};

}  // namespace
}  // namespace lumacap::dshow

LUMACAP_REGISTER_CLASS(CLSID_SystemClock, "System Clock",
                       CreateComInstance<lumacap::dshow::SystemClock>);
