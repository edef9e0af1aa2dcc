// The AVI mux's settings interfaces: the master stream, the index kind, interleaving and its
// property pages (none). The settings are kept and reported; the file is written the same way
// whatever they say.
#pragma once

#include <mutex>

#include <streams.h>

namespace lumacap::dshow {

class MuxConfig final : public IConfigAviMux,
                        public IConfigInterleaving,
                        public ISpecifyPropertyPages {
public:
    // Part of `owner`, whose identity and reference count it shares.
    explicit MuxConfig(CUnknown* owner) : m_owner(owner) {}

    // The interface of this object that answers `riid`, with a reference; E_NOINTERFACE if none.
    HRESULT Answer(REFIID riid, void** ppv);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP SetMasterStream(LONG iStream) override;
    STDMETHODIMP GetMasterStream(LONG* pStream) override;
    STDMETHODIMP SetOutputCompatibilityIndex(BOOL fOldIndex) override;
    STDMETHODIMP GetOutputCompatibilityIndex(BOOL* pfOldIndex) override;

    STDMETHODIMP put_Mode(InterleavingMode mode) override;
    STDMETHODIMP get_Mode(InterleavingMode* pMode) override;
    STDMETHODIMP put_Interleaving(const REFERENCE_TIME* prtInterleave,
                                  const REFERENCE_TIME* prtPreroll) override;
    STDMETHODIMP get_Interleaving(REFERENCE_TIME* prtInterleave,
                                  REFERENCE_TIME* prtPreroll) override;

    STDMETHODIMP GetPages(CAUUID* pPages) override;

private:
    CUnknown* m_owner;
    std::mutex m_mutex;
    LONG m_master = -1;  // none
    BOOL m_oldIndex = FALSE;
    InterleavingMode m_mode = INTERLEAVE_CAPTURE;
    REFERENCE_TIME m_interleave = 10000000;  // a second
    REFERENCE_TIME m_preroll = 0;
};

}  // namespace lumacap::dshow
