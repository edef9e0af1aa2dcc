// Windows Media profiles as the WM ASF Writer uses them: a profile is a list of streams, each with
// a number, a type, names, a bit rate, a buffer window and a media type. The objects handed out
// (IWMProfile, IWMStreamConfig with IWMMediaProps) are copies: a stream taken from a profile is
// changed on its own and goes back with ReconfigStream; a profile taken from the writer goes back
// with ConfigureFilterUsingProfile.
#pragma once

#include <string>
#include <vector>

#include <streams.h>
#include <wmsdkidl.h>

namespace lumacap::dshow::wm {

struct StreamData {
    GUID type = GUID_NULL;  // WMMEDIATYPE_Video or WMMEDIATYPE_Audio
    WORD number = 0;
    std::wstring name;
    std::wstring connection;
    DWORD bitrate = 0;       // bits per second
    DWORD bufferWindow = 0;  // milliseconds
    CMediaType mediaType;
};

struct ProfileData {
    WMT_VERSION version = WMT_VER_8_0;
    std::wstring name;
    std::wstring description;
    std::vector<StreamData> streams;
};

// The writer's profile until the application configures another: stream 1 Windows Media Audio 2
// (44.1 kHz stereo, 64 kbit/s), stream 2 Windows Media Video 8 (320 x 240, 30 frames per second,
// 320 kbit/s).
ProfileData DefaultProfile();
// A new stream of a type, as CreateNewStream makes it (number 0 until the caller sets one).
StreamData DefaultStream(REFGUID type);

// A profile object over a copy of `data`, with one reference.
IWMProfile* CreateProfile(const ProfileData& data);
// Reads any profile through its interfaces.
HRESULT ReadProfile(IWMProfile* profile, ProfileData* data);
HRESULT ReadStream(IWMStreamConfig* config, StreamData* data);

}  // namespace lumacap::dshow::wm
