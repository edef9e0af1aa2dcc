// Virtual capture devices: the cameras and microphones the platform enumerates, their formats and
// controls, unplugging and replugging, and reading back the frame number a virtual camera wrote
// into its pictures.
//
// Positions are positions in these lists. A device that is unplugged stays in its list (so it can
// be replugged) but is not enumerated, so the enumeration positions of the devices after it move
// up while it is away, as they do when a real device is pulled out.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>
#include <utility>

#include <windows.h>

#include <lumacap_export.h>

namespace lumacap::sim {

// One capture capability of a camera.
struct VideoCapability {
    std::string subtype = "YUY2";  // "YUY2", "MJPG", "RGB24", or any other four-character code
    long width = 640;
    long height = 480;
    double framesPerSecond = 30.0;
    // Reported with a VIDEOINFOHEADER2 format block (FORMAT_VideoInfo2) instead of VIDEOINFOHEADER.
    bool videoInfo2 = false;
};

// A device control: IAMVideoProcAmp (by VideoProcAmpProperty) or IAMCameraControl (by
// CameraControlProperty).
struct ControlRange {
    long minimum = 0;
    long maximum = 0;
    long step = 1;
    long defaultValue = 0;
    bool canBeAutomatic = false;  // flags offered: manual, plus automatic when true
    bool automaticByDefault = false;
};

struct VirtualCameraConfig {
    // Narrow text in the active code page (GBK): Chinese names are possible.
    std::string friendlyName;
    // The moniker's display name; a USB-style name with "vid_XXXX&pid_YYYY" gives the device ID.
    std::string displayName;
    std::vector<VideoCapability> capabilities;
    // The record size IAMStreamConfig::GetNumberOfCapabilities reports (128 is the real size).
    int capabilityRecordSize = 128;
    // The capability delivered until SetFormat chooses another.
    int defaultCapability = 0;
    std::map<long, ControlRange> videoProcAmp;
    std::map<long, ControlRange> cameraControl;
    // Frames per second actually delivered; 0 uses the chosen capability's rate.
    double frameRate = 0.0;
    // false: deliver frames as fast as the graph takes them (benchmarks).
    bool paced = true;
    // > 0: render this many frames once per format and replay them (frame numbers then count
    // modulo this), so producing a frame costs one copy, as with a hardware device.
    int prerenderedFrames = 0;
    // When set, supplies the bytes of each frame in place of the test pattern, as a device whose
    // data may be damaged would: it writes at most `capacity` bytes and answers how many, or -1
    // when it has no frame yet (the camera asks again a millisecond later). Called on the
    // camera's streaming thread.
    std::function<long(long frameNumber, unsigned char* buffer, long capacity)> frameSource;
    // Not empty: these pictures are delivered in turn instead of the drawn pattern, each as the
    // bytes of one frame in the delivering format (one JPEG picture each for MJPG), whatever that
    // format is. Shared, so many cameras can replay one set of files without a copy each.
    std::shared_ptr<const std::vector<std::vector<unsigned char>>> pictures;
};

struct AudioFormat {
    DWORD samplesPerSecond = 44100;
    WORD bitsPerSample = 16;
    WORD channels = 2;
};

struct VirtualMicrophoneConfig {
    std::string friendlyName;
    std::string displayName;
    std::vector<AudioFormat> formats;
    int defaultFormat = 0;
    double toneFrequency = 440.0;  // Hz
    double amplitude = 0.5;        // of full scale, 0..1
    bool silence = false;          // all samples zero
};

// The defaults Reset restores: one camera and one microphone.
LUMACAP_API VirtualCameraConfig DefaultCameraConfig();
LUMACAP_API VirtualMicrophoneConfig DefaultMicrophoneConfig();

// ---- cameras ------------------------------------------------------------------------------------
LUMACAP_API int CameraCount();
// Inserts at `position` (-1: at the end); returns the position it got.
LUMACAP_API int AddCamera(const VirtualCameraConfig& config, int position = -1);
LUMACAP_API bool RemoveCamera(int position);
LUMACAP_API void RemoveAllCameras();
// Moves the camera at `from` so that it stands at `to`.
LUMACAP_API bool MoveCamera(int from, int to);
// Replaces a camera's configuration; filters bound later see it (running ones keep their format).
LUMACAP_API bool ConfigureCamera(int position, const VirtualCameraConfig& config);
LUMACAP_API VirtualCameraConfig GetCameraConfig(int position);
// Pulls the camera out: it leaves the enumeration, its running graphs stop receiving frames and
// get EC_DEVICE_LOST with second parameter 0. Replugging brings it back (EC_DEVICE_LOST, 1).
LUMACAP_API bool UnplugCamera(int position);
LUMACAP_API bool ReplugCamera(int position);
// The current value of a control of the device (video processing, or camera control).
LUMACAP_API bool GetCameraControl(int position, bool cameraControl, long property, long* value,
                                  long* flags);
// Frames delivered by all filters of this camera since it was added.
LUMACAP_API long CameraFramesDelivered(int position);

// ---- microphones --------------------------------------------------------------------------------
LUMACAP_API int MicrophoneCount();
LUMACAP_API int AddMicrophone(const VirtualMicrophoneConfig& config, int position = -1);
LUMACAP_API bool RemoveMicrophone(int position);
LUMACAP_API void RemoveAllMicrophones();
LUMACAP_API bool MoveMicrophone(int from, int to);
LUMACAP_API bool ConfigureMicrophone(int position, const VirtualMicrophoneConfig& config);
LUMACAP_API VirtualMicrophoneConfig GetMicrophoneConfig(int position);
LUMACAP_API bool UnplugMicrophone(int position);
LUMACAP_API bool ReplugMicrophone(int position);

// ---- V4L2 cameras -------------------------------------------------------------------------------
// Real cameras are the kernel's video capture nodes in a directory: $LUMACAP_V4L2_DIR (/dev when
// unset, none when set but empty), with their sysfs attributes under $LUMACAP_V4L2_SYSFS (/sys).
// They enumerate before the virtual cameras. Reset turns them off, so a test sees the machine's own
// cameras only when it asks for them.

// One pixel format of a camera double: its four-character code ("YUYV", "MJPG", "NV12", "YU12",
// "RGB3", "BGR3"), its discrete sizes or, when maxWidth > 0, a stepwise range of sizes (steps of 1:
// continuous), each offered at the listed frame rates (fastest first).
struct V4l2FormatSpec {
    std::string fourcc = "YUYV";
    std::vector<std::pair<long, long>> sizes = {{640, 480}};
    long minWidth = 0, maxWidth = 0, stepWidth = 1;
    long minHeight = 0, maxHeight = 0, stepHeight = 1;
    std::vector<double> framesPerSecond = {30.0};
};

// One control, by the name v4l2-ctl gives it ("brightness", "white_balance_automatic",
// "white_balance_temperature", "auto_exposure", "exposure_time_absolute", "pan_absolute", ...).
// A menu control offers the items in `menuItems` (all from minimum to maximum when empty).
struct V4l2ControlSpec {
    std::string name;
    long minimum = 0, maximum = 0, step = 1, defaultValue = 0;
    std::vector<long> menuItems;
};

// Misbehaviour of a camera double; changeable while it streams.
struct V4l2Faults {
    bool denyOpen = false;     // open answers EACCES (permission denied)
    std::string refuseFourcc;  // S_FMT answers with another format when this listed one is asked
    int errorEvery = 0;        // every n-th frame comes flagged V4L2_BUF_FLAG_ERROR
    int emptyEvery = 0;        // every n-th frame carries no bytes
    int truncatedEvery = 0;    // every n-th frame carries half its bytes
    int corruptEvery = 0;      // every n-th compressed frame is not a picture
    // "S_FMT", "REQBUFS" or "STREAMON": the camera is unplugged when that request comes.
    std::string unplugAt;
};

struct V4l2CameraConfig {
    std::string card = "Lumacap Test Webcam";  // what VIDIOC_QUERYCAP calls it
    std::string driver = "uvcvideo";
    std::string busInfo = "usb-0000:00:14.0-1";
    unsigned vendorId = 0x046D;  // 0: not a USB device
    unsigned productId = 0x0825;
    std::vector<V4l2FormatSpec> formats;
    std::vector<V4l2ControlSpec> controls;
    // A second, metadata-only node, as UVC webcams create.
    bool metadataNode = true;
    V4l2Faults faults;
};

// A typical webcam: YUYV and MJPG at common sizes, and the usual controls.
LUMACAP_API V4l2CameraConfig DefaultV4l2CameraConfig();

// Real cameras from a directory of device nodes (the system calls), sysfs under `sysfsRoot` (/sys
// when null).
LUMACAP_API void UseV4l2Directory(const char* directory, const char* sysfsRoot = nullptr);
// Cameras from the in-process double instead, behaving as the kernel's vivid driver does.
LUMACAP_API void UseV4l2Double();
LUMACAP_API void DisableV4l2();
// Adds a camera to the in-process double; returns its capture node's name ("video0").
LUMACAP_API std::string AddV4l2Camera(const V4l2CameraConfig& config);
// Pulls the camera out (its nodes vanish, open handles answer ENODEV) or plugs it back in.
LUMACAP_API bool UnplugV4l2Camera(const std::string& node);
LUMACAP_API bool ReplugV4l2Camera(const std::string& node);
LUMACAP_API bool SetV4l2Faults(const std::string& node, const V4l2Faults& faults);

// ---- microphones of the sound server ------------------------------------------------------------
// Real microphones are the sources of the sound server (PulseAudio, or PipeWire through its
// PulseAudio service), listed before the virtual ones: the server's default source first, monitors
// of its outputs only when the environment has LUMACAP_AUDIO_MONITORS=1. A process starts by
// asking the server its environment names; Reset asks none, so that tests see only virtual
// microphones unless they name a server.
//
// Asks `server` ("unix:/path/to/native", "tcp:host"; null or empty: the environment's) at each
// enumeration; a server that cannot be reached simply lists nothing.
LUMACAP_API void UseSoundServer(const char* server = nullptr);
LUMACAP_API void UseNoSoundServer();
// Lists the server's microphone with this display name first instead of the server's default
// (null: the default again), as choosing the default recording device in the system's settings.
LUMACAP_API void PreferSoundServerMicrophone(const char* displayName);

// ---- reading pictures back
// --------------------------------------------------------------------------- The frame number a
// virtual camera stamped into a 24-bit bottom-up RGB picture (rows padded to 4 bytes), also after
// colour conversion, scaling by a whole factor or lossy compression; -1 when the picture carries no
// readable stamp.
//
// Layout of a virtual camera's picture, as fractions of its height from the top: the stamp fills
// the first sixth (32 cells across: a white marker, 24 bits of the frame number from the most
// significant, 6 check bits, a black marker); the colour bars fill the next half (eight bars of
// equal width: white, yellow, cyan, green, magenta, red, blue, black at 75% intensity); the rest
// is dark grey with a white square moving to the right by eight pixels per frame.
LUMACAP_API long ReadFrameNumber(const unsigned char* bgrBottomUp, long width, long height);
// The colour of bar 0..7 before brightness and contrast (blue, green, red bytes).
LUMACAP_API bool TestPatternBarColor(int bar, unsigned char* blue, unsigned char* green,
                                     unsigned char* red);

}  // namespace lumacap::sim
