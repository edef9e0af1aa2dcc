// Support for the file-writer tests: a push source with scripted time stamps, reading files back
// with FFmpeg's own tools (ffprobe, ffmpeg), and small graph helpers.
#pragma once

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <dshowasf.h>
#include <streams.h>

#include "common/GraphFixture.h"

namespace lumacap::test {

// What a scripted source delivers.
struct SourceScript {
    int width = 320;
    int height = 240;
    bool rgb32 = false;
    bool topDown = false;
    // The frame length stated in the type (0: left to the samples, as the recorder's source does).
    REFERENCE_TIME typeFrameLength = 0;
    REFERENCE_TIME frameLength = 1000000;
    // Start times of the frames in delivery order; frame i shows frame number i.
    std::vector<REFERENCE_TIME> starts;
    // After the script: end the stream (true) or stay idle until the graph stops.
    bool endOfStream = true;
    // Grain of this amplitude over the picture, different in every frame (detail for encoders
    // to spend bits on); the frame number stays readable.
    int noise = 0;
};

// Stamps 0, 1, 2 ... frame lengths.
std::vector<REFERENCE_TIME> RegularStarts(int frames, REFERENCE_TIME frameLength);

// A push source of test pictures (the virtual camera's pattern with its frame number) whose
// samples carry exactly the scripted time stamps. Created with one reference.
IBaseFilter* CreateScriptedSource(const SourceScript& script);
// Waits until the whole script has been delivered downstream.
bool WaitForScript(IBaseFilter* source, int timeoutMs = 10000);
// The picture of frame `n` as the source delivers it (24-bit, bottom-up, padded rows).
std::vector<uint8_t> ScriptPicture(int width, int height, long n);

// ---- reading files back -------------------------------------------------------------------------

// `ffprobe -show_streams -show_format` as flat keys: "streams.stream.0.codec_name" -> "mjpeg".
std::map<std::string, std::string> Probe(const std::string& path);
// The value of a key, without quotes ("" when absent).
std::string Field(const std::map<std::string, std::string>& probe, const std::string& key);
double NumberField(const std::map<std::string, std::string>& probe, const std::string& key);

struct PacketInfo {
    long long dts;  // in the stream's time base: frames in AVI, milliseconds in ASF
    long size;
    bool key;
};
// The packets of a stream, in file order.
std::vector<PacketInfo> Packets(const std::string& path, int stream);

// Decodes a video stream to 24-bit pictures (bottom-up, padded rows, as the library's frames),
// one per stored picture (no frames repeated or dropped).
std::vector<std::vector<uint8_t>> DecodePictures(const std::string& path, int width, int height,
                                                 int stream = 0);
// Decodes `count` pictures from `seconds` into the stream (seeking by the file's index).
std::vector<std::vector<uint8_t>> DecodePicturesAt(const std::string& path, int width, int height,
                                                   double seconds, int count);
// The virtual-camera frame number in each decoded picture.
std::vector<long> DecodedFrameNumbers(const std::string& path, int width, int height,
                                      int stream = 0);
// Decodes an audio stream to 16-bit mono samples at its own rate.
std::vector<int16_t> DecodeAudio(const std::string& path, int stream);

// ---- graphs -------------------------------------------------------------------------------------

IBaseFilter* CreateFilter(REFCLSID clsid);
// What a recording asks of the microphone's capture pin: 11,025 Hz 16-bit mono, chosen among the
// pin's types, in six buffers of 1,024 samples.
void ChooseVoiceFormat(IPin* pin);
// The pin of a filter whose name is exactly `name`, with a reference.
IPin* PinNamed(IBaseFilter* filter, const wchar_t* name);
std::vector<std::wstring> PinNames(IBaseFilter* filter);
HRESULT SetOutputFile(IBaseFilter* sink, const std::string& path);
// Waits for EC_COMPLETE (or an abort) from the graph; answers the event code, 0 on time-out.
long WaitForCompletion(IGraphBuilder* graph, int timeoutMs);

}  // namespace lumacap::test
