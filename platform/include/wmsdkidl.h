// Windows Media format SDK: profiles, their streams and stream media types.
#pragma once

#include "strmif.h"
#include "unknwn.h"

interface IWMStreamConfig;
interface IWMMutualExclusion;

typedef enum WMT_VERSION {
    WMT_VER_4_0 = 0x00040000,
    WMT_VER_7_0 = 0x00070000,
    WMT_VER_8_0 = 0x00080000,
    WMT_VER_9_0 = 0x00090000,
} WMT_VERSION;

// The same layout as AM_MEDIA_TYPE.
typedef struct _WMMediaType {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    IUnknown* pUnk;
    ULONG cbFormat;
    BYTE* pbFormat;
} WM_MEDIA_TYPE;
static_assert(sizeof(WM_MEDIA_TYPE) == sizeof(AM_MEDIA_TYPE),
              "WM_MEDIA_TYPE mirrors AM_MEDIA_TYPE");

DEFINE_GUID(IID_IWMMediaProps, 0x96406BCE, 0x2B2B, 0x11d3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08,
            0xFF);
DEFINE_GUID(IID_IWMProfile, 0x96406BDB, 0x2B2B, 0x11d3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08,
            0xFF);
DEFINE_GUID(IID_IWMStreamConfig, 0x96406BDC, 0x2B2B, 0x11d3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61,
            0x08, 0xFF);

DEFINE_GUID(WMMEDIATYPE_Video, 0x73646976, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B,
            0x71);
DEFINE_GUID(WMMEDIATYPE_Audio, 0x73647561, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B,
            0x71);
DEFINE_GUID(WMMEDIASUBTYPE_WMV2, 0x32564D57, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38,
            0x9B, 0x71);
DEFINE_GUID(WMMEDIASUBTYPE_WMAudioV8, 0x00000161, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xAA, 0x00,
            0x38, 0x9B, 0x71);
DEFINE_GUID(WMMEDIASUBTYPE_PCM, 0x00000001, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38,
            0x9B, 0x71);
DEFINE_GUID(WMFORMAT_VideoInfo, 0x05589f80, 0xc356, 0x11ce, 0xbf, 0x01, 0x00, 0xaa, 0x00, 0x55,
            0x59, 0x5a);
DEFINE_GUID(WMFORMAT_WaveFormatEx, 0x05589f81, 0xc356, 0x11ce, 0xbf, 0x01, 0x00, 0xaa, 0x00, 0x55,
            0x59, 0x5a);

interface IWMMediaProps : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetType(GUID* pguidType) = 0;
    // With a null type, answers the size the type needs (WM_MEDIA_TYPE plus its format block).
    virtual HRESULT STDMETHODCALLTYPE GetMediaType(WM_MEDIA_TYPE* pType, DWORD* pcbType) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMediaType(WM_MEDIA_TYPE* pType) = 0;
};

interface IWMStreamConfig : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetStreamType(GUID* pguidStreamType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamNumber(WORD* pwStreamNum) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetStreamNumber(WORD wStreamNum) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamName(WCHAR* pwszStreamName,
                                                    WORD* pcchStreamName) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetStreamName(WCHAR* pwszStreamName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetConnectionName(WCHAR* pwszInputName,
                                                        WORD* pcchInputName) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetConnectionName(WCHAR* pwszInputName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBitrate(DWORD* pdwBitrate) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBitrate(DWORD pdwBitrate) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBufferWindow(DWORD* pmsBufferWindow) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBufferWindow(DWORD msBufferWindow) = 0;
};

interface IWMProfile : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetVersion(WMT_VERSION* pdwVersion) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetName(WCHAR* pwszName, DWORD* pcchName) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetName(const WCHAR* pwszName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDescription(WCHAR* pwszDescription,
                                                     DWORD* pcchDescription) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDescription(const WCHAR* pwszDescription) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamCount(DWORD* pcStreams) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStream(DWORD dwStreamIndex,
                                                IWMStreamConfig** ppConfig) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamByNumber(WORD wStreamNum,
                                                        IWMStreamConfig** ppConfig) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveStream(IWMStreamConfig* pConfig) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveStreamByNumber(WORD wStreamNum) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddStream(IWMStreamConfig* pConfig) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReconfigStream(IWMStreamConfig* pConfig) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateNewStream(REFGUID guidStreamType,
                                                      IWMStreamConfig** ppConfig) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMutualExclusionCount(DWORD* pcME) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMutualExclusion(DWORD dwMEIndex,
                                                         IWMMutualExclusion** ppME) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveMutualExclusion(IWMMutualExclusion* pME) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddMutualExclusion(IWMMutualExclusion* pME) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateNewMutualExclusion(IWMMutualExclusion** ppME) = 0;
};
