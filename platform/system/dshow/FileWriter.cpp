// The File Writer (CLSID_FileWriter): a sink that owns one output file. The file is created (or
// emptied) when the filter leaves the stopped state. Upstream writes through the input pin's
// IStream (a multiplexer places headers and indexes by seeking), or delivers byte samples whose
// start time is their position in the file. The file stays open after a stop, so a multiplexer
// that finishes its file when it stops (after this filter, since the graph stops downstream
// filters first) can still write; it closes at the end of the stream, on disconnection, when the
// next run starts over, or with the filter.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

#include <streams.h>

#include "platform/system/com/ClassRegistry.h"
#include "platform/system/dshow/FilterRegistry.h"
#include "platform/system/dshow/FileSink.h"
#include "platform/sim/Faults.h"
#include "platform/system/win/Drives.h"

namespace lumacap::dshow {
namespace {

HRESULT ErrnoResult(int err) {
    return HRESULT_FROM_WIN32(win::ErrnoToWin32(err));
}

// The open file: one position for stream writes, positioned writes for samples.
class OutputFile {
public:
    ~OutputFile() { Close(); }

    HRESULT Open(const std::string& hostPath) {
        std::lock_guard<std::mutex> lock(m_mutex);
        CloseLocked();
        struct stat st;
        if (::stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
        const int fd = ::open(hostPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) return OpenFailure(errno, hostPath);
        m_fd = fd;
        m_position = 0;
        m_size = 0;
        return S_OK;
    }

    void Close() {
        std::lock_guard<std::mutex> lock(m_mutex);
        CloseLocked();
    }

    bool IsOpen() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_fd >= 0;
    }

    HRESULT WriteAt(int64_t position, const BYTE* data, size_t size, size_t* written) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return WriteAtLocked(position, data, size, written);
    }

    HRESULT Write(const BYTE* data, size_t size, size_t* written) {
        std::lock_guard<std::mutex> lock(m_mutex);
        const HRESULT hr = WriteAtLocked(m_position, data, size, written);
        m_position += static_cast<int64_t>(*written);
        return hr;
    }

    HRESULT Read(BYTE* data, size_t size, size_t* read) {
        std::lock_guard<std::mutex> lock(m_mutex);
        *read = 0;
        if (m_fd < 0) return E_UNEXPECTED;
        while (*read < size) {
            const ssize_t n = ::pread(m_fd, data + *read, size - *read,
                                      static_cast<off_t>(m_position + static_cast<int64_t>(*read)));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return ErrnoResult(errno);
            if (n == 0) break;
            *read += static_cast<size_t>(n);
        }
        m_position += static_cast<int64_t>(*read);
        return *read == size ? S_OK : S_FALSE;
    }

    HRESULT Seek(int64_t offset, DWORD origin, int64_t* newPosition) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_fd < 0) return E_UNEXPECTED;
        int64_t base = 0;
        switch (origin) {
            case STREAM_SEEK_SET:
                base = 0;
                break;
            case STREAM_SEEK_CUR:
                base = m_position;
                break;
            case STREAM_SEEK_END:
                base = m_size;
                break;
            default:
                return STG_E_INVALIDFUNCTION;
        }
        if (base + offset < 0) return STG_E_SEEKERROR;
        m_position = base + offset;
        if (newPosition) *newPosition = m_position;
        return S_OK;
    }

    HRESULT SetSize(int64_t size) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_fd < 0) return E_UNEXPECTED;
        if (::ftruncate(m_fd, static_cast<off_t>(size)) != 0) return ErrnoResult(errno);
        m_size = size;
        return S_OK;
    }

    int64_t Size() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_size;
    }

private:
    HRESULT WriteAtLocked(int64_t position, const BYTE* data, size_t size, size_t* written) {
        *written = 0;
        if (m_fd < 0) return E_UNEXPECTED;
        while (*written < size) {
            const ssize_t n =
                ::pwrite(m_fd, data + *written, size - *written,
                         static_cast<off_t>(position + static_cast<int64_t>(*written)));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return ErrnoResult(n < 0 ? errno : ENOSPC);
            *written += static_cast<size_t>(n);
        }
        m_size = std::max(m_size, position + static_cast<int64_t>(size));
        return S_OK;
    }

    void CloseLocked() {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }

    mutable std::mutex m_mutex;
    int m_fd = -1;
    int64_t m_position = 0;
    int64_t m_size = 0;
};

class FileWriter;

class FileWriterInputPin final : public CBaseInputPin, public IStream {
public:
    FileWriterInputPin(FileWriter* filter, CCritSec* lock, OutputFile* file, HRESULT* phr);

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IStream || riid == IID_ISequentialStream)
            return GetInterface(static_cast<IStream*>(this), ppv);
        return CBaseInputPin::NonDelegatingQueryInterface(riid, ppv);
    }

    HRESULT CheckMediaType(const CMediaType* pmt) override;

    // Byte samples are stamped with their position in the file (start) and its end (stop).
    STDMETHODIMP Receive(IMediaSample* pSample) override {
        HRESULT hr = CBaseInputPin::Receive(pSample);
        if (hr != S_OK) return hr;
        BYTE* data = nullptr;
        pSample->GetPointer(&data);
        const long length = pSample->GetActualDataLength();
        if (length <= 0) return S_OK;
        REFERENCE_TIME start = 0, stop = 0;
        size_t written = 0;
        if (SUCCEEDED(pSample->GetTime(&start, &stop)) && start >= 0)
            hr = m_file->WriteAt(start, data, static_cast<size_t>(length), &written);
        else
            hr = m_file->Write(data, static_cast<size_t>(length), &written);
        if (FAILED(hr)) m_bRunTimeError = true;
        return hr;
    }

    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override { return CBaseInputPin::BeginFlush(); }
    STDMETHODIMP EndFlush() override { return CBaseInputPin::EndFlush(); }
    HRESULT BreakConnect() override;
    // Stream writers need no allocator.
    HRESULT Inactive() override {
        m_bRunTimeError = false;
        m_bFlushing = FALSE;
        if (m_pAllocator) m_pAllocator->Decommit();
        return S_OK;
    }

    // ISequentialStream / IStream
    STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override {
        if (!pv) return STG_E_INVALIDPOINTER;
        size_t read = 0;
        const HRESULT hr = m_file->Read(static_cast<BYTE*>(pv), cb, &read);
        if (pcbRead) *pcbRead = static_cast<ULONG>(read);
        return hr;
    }
    STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
        LUMACAP_FAULT_POINT("IStream::Write");
        if (!pv && cb) return STG_E_INVALIDPOINTER;
        size_t written = 0;
        const HRESULT hr = m_file->Write(static_cast<const BYTE*>(pv), cb, &written);
        if (pcbWritten) *pcbWritten = static_cast<ULONG>(written);
        return hr;
    }
    STDMETHODIMP Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin,
                      ULARGE_INTEGER* plibNewPosition) override {
        int64_t position = 0;
        const HRESULT hr = m_file->Seek(dlibMove.QuadPart, dwOrigin, &position);
        if (SUCCEEDED(hr) && plibNewPosition)
            plibNewPosition->QuadPart = static_cast<uint64_t>(position);
        return hr;
    }
    STDMETHODIMP SetSize(ULARGE_INTEGER libNewSize) override {
        return m_file->SetSize(static_cast<int64_t>(libNewSize.QuadPart));
    }
    STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    // Every write has reached the file already.
    STDMETHODIMP Commit(DWORD) override { return m_file->IsOpen() ? S_OK : E_UNEXPECTED; }
    STDMETHODIMP Revert() override { return E_NOTIMPL; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    STDMETHODIMP Stat(STATSTG* pstatstg, DWORD) override {
        if (!pstatstg) return STG_E_INVALIDPOINTER;
        std::memset(pstatstg, 0, sizeof(*pstatstg));
        pstatstg->type = STGTY_STREAM;
        pstatstg->cbSize.QuadPart = static_cast<uint64_t>(m_file->Size());
        return S_OK;
    }
    STDMETHODIMP Clone(IStream** ppstm) override {
        if (ppstm) *ppstm = nullptr;
        return E_NOTIMPL;
    }

private:
    FileWriter* m_writer;
    OutputFile* m_file;
};

class FileWriter final : public CBaseFilter, public IFileSinkFilter2, public IAMFilterMiscFlags {
public:
    explicit FileWriter(HRESULT* phr)
        : CBaseFilter(NAME("File Writer"), nullptr, &m_lock, CLSID_FileWriter, phr),
          m_name(MEDIATYPE_Stream, GUID_NULL),
          m_pin(this, &m_lock, &m_file, phr) {}

    ~FileWriter() override { m_file.Close(); }

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IFileSinkFilter || riid == IID_IFileSinkFilter2) {
            LUMACAP_FAULT_POINT("IBaseFilter::QueryInterface");
            return GetInterface(static_cast<IFileSinkFilter2*>(this), ppv);
        }
        if (riid == IID_IAMFilterMiscFlags)
            return GetInterface(static_cast<IAMFilterMiscFlags*>(this), ppv);
        return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
    }

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &m_pin : nullptr; }

    STDMETHODIMP Pause() override {
        CAutoLock lock(&m_lock);
        if (m_State == State_Stopped) {
            // Each run writes its file from the beginning.
            std::string host;
            HRESULT hr = ResolveOutputPath(m_name.Name(), &host);
            if (SUCCEEDED(hr)) hr = m_file.Open(host);
            if (FAILED(hr)) return hr;
        }
        SetRunning(false, m_State == State_Stopped);
        return CBaseFilter::Pause();
    }
    STDMETHODIMP Run(REFERENCE_TIME tStart) override {
        const HRESULT hr = CBaseFilter::Run(tStart);
        if (SUCCEEDED(hr) && SetRunning(true, false)) NotifyEvent(EC_COMPLETE, S_OK, 0);
        return hr;
    }
    STDMETHODIMP Stop() override {
        SetRunning(false, true);
        return CBaseFilter::Stop();
    }

    // IFileSinkFilter
    STDMETHODIMP SetFileName(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) override {
        LUMACAP_FAULT_POINT("IFileSinkFilter::SetFileName");
        CAutoLock lock(&m_lock);
        if (m_State != State_Stopped) return VFW_E_WRONG_STATE;
        return m_name.Set(pszFileName, pmt);
    }
    STDMETHODIMP GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) override {
        LUMACAP_FAULT_POINT("IFileSinkFilter::GetCurFile");
        return m_name.Get(ppszFileName, pmt);
    }

    // IFileSinkFilter2: the mode is kept and reported; every run writes its file afresh anyway.
    STDMETHODIMP SetMode(DWORD dwFlags) override {
        if (dwFlags & ~static_cast<DWORD>(AM_FILE_OVERWRITE)) return E_INVALIDARG;
        m_mode = dwFlags;
        return S_OK;
    }
    STDMETHODIMP GetMode(DWORD* pdwFlags) override {
        if (!pdwFlags) return E_POINTER;
        *pdwFlags = m_mode;
        return S_OK;
    }

    STDMETHODIMP_(ULONG) GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

    // The end of the stream: the file is complete. A short stream can end while the graph is
    // still paused on its way to running; the graph then hears of it when it runs.
    HRESULT EndOfStream() {
        m_file.Close();
        bool complete = false;
        {
            std::lock_guard<std::mutex> lock(m_eosMutex);
            complete = m_running;
            m_eosWaiting = !m_running;
        }
        if (complete) NotifyEvent(EC_COMPLETE, S_OK, 0);
        return S_OK;
    }
    void ConnectionBroken() { m_file.Close(); }
    bool HasFileName() const { return !m_name.Name().empty(); }

private:
    // Records whether the filter runs; answers whether an end of stream waits to be reported.
    bool SetRunning(bool running, bool forget) {
        std::lock_guard<std::mutex> lock(m_eosMutex);
        m_running = running;
        const bool waiting = m_eosWaiting && running;
        if (waiting || forget) m_eosWaiting = false;
        return waiting;
    }

    CCritSec m_lock;
    OutputFile m_file;
    FileSinkName m_name;
    std::atomic<DWORD> m_mode{0};
    FileWriterInputPin m_pin;
    std::mutex m_eosMutex;  // the streaming thread's view of the state, apart from m_lock
    bool m_running = false;
    bool m_eosWaiting = false;
};

FileWriterInputPin::FileWriterInputPin(FileWriter* filter, CCritSec* lock, OutputFile* file,
                                       HRESULT* phr)
    : CBaseInputPin(NAME("File Writer input"), filter, lock, phr, L"in"),
      m_writer(filter),
      m_file(file) {}

// Anything until a file is named; then byte streams, whatever they hold.
HRESULT FileWriterInputPin::CheckMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    if (m_writer->HasFileName() && pmt->majortype != MEDIATYPE_Stream)
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

STDMETHODIMP FileWriterInputPin::EndOfStream() {
    if (!IsConnected()) return VFW_E_NOT_CONNECTED;
    return m_writer->EndOfStream();
}

HRESULT FileWriterInputPin::BreakConnect() {
    m_writer->ConnectionBroken();
    return CBaseInputPin::BreakConnect();
}

}  // namespace

LUMACAP_REGISTER_CLASS(CLSID_FileWriter, "File Writer", CreateComInstance<FileWriter>);
// Installed in the legacy filter category, where the mapper finds it.
static const BuiltinFilter s_fileWriter(CLSID_FileWriter, L"File writer", MERIT_DO_NOT_USE,
                                        {{REG_PINFLAG_B_RENDERER, {{GUID_NULL, GUID_NULL}}}});

}  // namespace lumacap::dshow
