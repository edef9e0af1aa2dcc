// A Windows host in miniature: it creates a camera and a recorder through the exported classes
// and lists the cameras DirectShow finds. `make windows-check` links it to show the library builds
// for Windows; under Wine it runs as well.
#include <cstdio>

#include <lumacap/lumacap.h>

int main() {
    if (FAILED(CoInitialize(nullptr))) return 1;
    int failures = 0;
    {
        CDXCamera camera;
        CDXRecorder recorder;
        const long cameras = CDXCamera::GetCameraCount();
        std::printf("cameras: %ld\n", cameras);
        for (long i = 0; i < cameras; ++i) {
            CDXCAMERAPROPERTY property;
            property.m_dwMask = 2;  // the name only
            if (CDXCamera::GetCameraProperty(static_cast<int>(i), &property) == 0)
                std::printf("  %ld: %s\n", i, property.GetName());
        }
        // A new camera is closed and a new recorder has nothing to record.
        if (camera.GetCameraStatus() != 0) ++failures;
        if (recorder.GetStatus() != RecorderStatus_Closed) ++failures;
    }
    CoUninitialize();
    std::printf("%s\n", failures ? "FAILED" : "ok");
    return failures ? 1 : 0;
}
