// V4L2 device answers the kernel would never give, or gives only from a broken driver: between the
// camera provider and the in-process device double sits a seam that fails any call with an errno,
// or lets it through and then rewrites what came back (zero or absurd sizes and counts, intervals
// with a zero side, buffers longer than their memory, bytesused beyond the buffer, indices out of
// range, controls whose minimum exceeds their maximum). A camera is then listed, opened with one of
// its formats, streamed into a self-drawn preview and snapshotted, and closed. Nothing may crash
// or hang, and every descriptor and mapping the provider took is given back.
//
// Input: one byte choosing the resolution, then for each call the seam sees, one byte saying what
// to do with it (and the values the change needs). Once the input runs dry, calls go through.
#include <linux/videodev2.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include <lumacap/lumacap.h>
#include <lumacap/sim.h>

#include "common/FuzzSupport.h"
#include "platform/system/hw/v4l2/FakeApi.h"
#include "platform/system/hw/v4l2/V4l2Provider.h"

namespace {

using namespace lumacap;
using hw::v4l2::Api;
using hw::v4l2::FakeApi;

// Values a driver might put where a sane one puts a size or a count.
uint32_t OddValue(fuzz::FuzzInput& in) {
    static const uint32_t kValues[] = {0,      1,       2,          3,          7,
                                       0xffff, 0x10000, 0x7fffffff, 0x80000000, 0xffffffff};
    const uint8_t pick = in.Byte();
    return pick < 200 ? kValues[pick % (sizeof(kValues) / sizeof(kValues[0]))] : in.Dword();
}

class MangledApi final : public Api {
public:
    MangledApi(std::shared_ptr<Api> real, const uint8_t* data, size_t size)
        : m_real(std::move(real)), m_in(data, size) {}

    int Open(const std::string& name) override {
        if (const int error = Refusal()) return -error;
        return m_real->Open(name);
    }
    int Close(int fd) override { return m_real->Close(fd); }
    void* Mmap(int fd, size_t length, off_t offset, int* error) override {
        if (const int e = Refusal()) {
            *error = e;
            return nullptr;
        }
        return m_real->Mmap(fd, length, offset, error);
    }
    int Munmap(void* address, size_t length) override { return m_real->Munmap(address, length); }
    int Poll(int fd, short events, short* revents, int timeoutMs) override {
        const int r = m_real->Poll(fd, events, revents, timeoutMs);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_in.Empty()) return r;
        switch (m_in.Byte() % 8) {
            case 0:
                *revents = POLLERR;
                return 1;
            case 1:
                *revents = POLLIN;
                return 1;  // nothing may be there
            case 2:
                return -EINTR;
            default:
                return r;
        }
    }
    bool ReadAttribute(const std::string& name, const std::string& attribute,
                       std::string* value) override {
        return m_real->ReadAttribute(name, attribute, value);
    }
    std::vector<std::string> ListNodes() override { return m_real->ListNodes(); }
    std::unique_ptr<hw::v4l2::DirectoryWatch> Watch(hw::v4l2::NodeChange onChange) override {
        return m_real->Watch(std::move(onChange));
    }
    std::string NodePath(const std::string& name) const override { return m_real->NodePath(name); }

    int Ioctl(int fd, unsigned long request, void* arg) override {
        if (const int error = Refusal()) return -error;
        const int r = m_real->Ioctl(fd, request, arg);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (r != 0 || m_in.Empty() || m_in.Byte() % 4 != 0) return r;
        Mangle(request, arg);
        return r;
    }

private:
    // An errno for the next call, or 0 to let it through.
    int Refusal() {
        static const int kErrors[] = {EIO, EINVAL, ENODEV, EBUSY, EAGAIN, ENOMEM, EPERM, ENOTTY};
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_in.Empty() || m_in.Byte() % 8 != 0) return 0;
        return kErrors[m_in.Byte() % (sizeof(kErrors) / sizeof(kErrors[0]))];
    }

    void Mangle(unsigned long request, void* arg) {
        switch (request) {
            case VIDIOC_QUERYCAP: {
                auto* cap = static_cast<v4l2_capability*>(arg);
                cap->capabilities = m_in.Dword();
                cap->device_caps = m_in.Dword();
                break;
            }
            case VIDIOC_ENUM_FMT: {
                auto* desc = static_cast<v4l2_fmtdesc*>(arg);
                desc->pixelformat = m_in.Flag() ? m_in.Dword() : v4l2_fourcc('M', 'J', 'P', 'G');
                desc->flags = m_in.Dword();
                break;
            }
            case VIDIOC_ENUM_FRAMESIZES: {
                auto* sizes = static_cast<v4l2_frmsizeenum*>(arg);
                sizes->type = m_in.Byte() % 5;
                if (sizes->type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                    sizes->discrete.width = OddValue(m_in);
                    sizes->discrete.height = OddValue(m_in);
                } else {
                    sizes->stepwise.min_width = OddValue(m_in);
                    sizes->stepwise.max_width = OddValue(m_in);
                    sizes->stepwise.step_width = OddValue(m_in);
                    sizes->stepwise.min_height = OddValue(m_in);
                    sizes->stepwise.max_height = OddValue(m_in);
                    sizes->stepwise.step_height = OddValue(m_in);
                }
                break;
            }
            case VIDIOC_ENUM_FRAMEINTERVALS: {
                auto* intervals = static_cast<v4l2_frmivalenum*>(arg);
                intervals->type = m_in.Byte() % 5;
                intervals->discrete.numerator = OddValue(m_in);
                intervals->discrete.denominator = OddValue(m_in);
                break;
            }
            case VIDIOC_G_FMT:
            case VIDIOC_S_FMT:
            case VIDIOC_TRY_FMT: {
                auto* pix = &static_cast<v4l2_format*>(arg)->fmt.pix;
                switch (m_in.Byte() % 5) {
                    case 0:
                        pix->width = OddValue(m_in);
                        break;
                    case 1:
                        pix->height = OddValue(m_in);
                        break;
                    case 2:
                        pix->bytesperline = OddValue(m_in);
                        break;
                    case 3:
                        pix->sizeimage = OddValue(m_in);
                        break;
                    default:
                        pix->pixelformat = m_in.Dword();
                        break;
                }
                break;
            }
            case VIDIOC_G_PARM:
            case VIDIOC_S_PARM: {
                auto& frame = static_cast<v4l2_streamparm*>(arg)->parm.capture.timeperframe;
                frame.numerator = OddValue(m_in);
                frame.denominator = OddValue(m_in);
                break;
            }
            case VIDIOC_REQBUFS:
                // Fewer buffers than asked is allowed; more than asked, or none, is the driver's
                // mistake, and the provider must not trust it.
                static_cast<v4l2_requestbuffers*>(arg)->count = OddValue(m_in);
                break;
            case VIDIOC_QUERYBUF: {
                auto* buffer = static_cast<v4l2_buffer*>(arg);
                if (m_in.Flag())
                    buffer->length = OddValue(m_in);
                else
                    buffer->m.offset = OddValue(m_in);
                break;
            }
            case VIDIOC_DQBUF: {
                auto* buffer = static_cast<v4l2_buffer*>(arg);
                switch (m_in.Byte() % 4) {
                    case 0:
                        buffer->bytesused = OddValue(m_in);
                        break;
                    case 1:
                        buffer->index = OddValue(m_in);
                        break;
                    case 2:
                        buffer->flags |= V4L2_BUF_FLAG_ERROR;
                        break;
                    default:
                        buffer->sequence = m_in.Dword();
                        break;
                }
                break;
            }
            case VIDIOC_QUERYCTRL: {
                auto* ctrl = static_cast<v4l2_queryctrl*>(arg);
                ctrl->minimum = static_cast<int32_t>(m_in.Dword());
                ctrl->maximum = static_cast<int32_t>(m_in.Dword());
                ctrl->step = static_cast<int32_t>(OddValue(m_in));
                ctrl->default_value = static_cast<int32_t>(m_in.Dword());
                if (m_in.Flag()) ctrl->type = m_in.Byte() % 12;
                break;
            }
            case VIDIOC_G_CTRL:
                static_cast<v4l2_control*>(arg)->value = static_cast<int32_t>(m_in.Dword());
                break;
            default:
                break;
        }
    }

    std::shared_ptr<Api> m_real;
    std::mutex m_mutex;
    fuzz::FuzzInput m_in;
};

void Fail(const char* what) {
    std::fprintf(stderr, "v4l2_answers: %s\n", what);
    std::abort();
}

LONG __cdecl CountFrame(unsigned char*, LONG, void* context) {
    ++*static_cast<std::atomic<long>*>(context);
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::InitializeMachine();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    fuzz::ResetMachine();
    sim::AddV4l2Camera(sim::DefaultV4l2CameraConfig());
    const int resolution = data[0] % 8;
    auto api = std::make_shared<MangledApi>(FakeApi::Instance(), data + 1, size - 1);
    hw::v4l2::UseApi(api);
    {
        std::atomic<long> frames{0};
        CDXCamera camera;
        camera.SetCameraIndex(0);
        camera.SetResolutionIndex(resolution);
        camera.SetRenderMode(RenderMode_SelfDrawn);
        camera.SetParentWnd(fuzz::HostWindow());
        camera.SetLumacapBuffCB(CountFrame, &frames);
        const bool opened = camera.Open() == 0;
        if (opened) {
            // A few frames, or whatever the device manages in a moment; an untouched device gets
            // long enough to start on a loaded machine.
            const auto deadline =
                std::chrono::steady_clock::now() +
                std::chrono::milliseconds(size == 1 && resolution == 0 ? 10000 : 300);
            while (frames < 3 && std::chrono::steady_clock::now() < deadline) {
                sim::PumpMessages();
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            unsigned char* shot = nullptr;
            DWORD shotSize = 0;
            if (camera.TakeSnapshot(shot, shotSize) == 0) camera.FreeImageMemery(shot);
            camera.Stop();
            camera.Run();
        }
        // With nothing changed the device is an ordinary webcam: in its first format it must
        // stream, or the harness tests nothing.
        if (size == 1 && resolution == 0 && (!opened || frames == 0))
            Fail("an untouched device does not stream");
        camera.Close();
    }
    sim::PumpMessages();
    hw::v4l2::UseApi(nullptr);
    if (FakeApi::Instance()->OpenFiles() != 0) Fail("a device file was left open");
    if (FakeApi::Instance()->LiveMappings() != 0) Fail("a buffer mapping was left behind");
    return 0;
}
