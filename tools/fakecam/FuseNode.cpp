// Serving a camera double's node through the FUSE low-level interface.
#include "FuseNode.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace lumacap::fakecam {
namespace {

// Mapped buffers live at offsets below this; the file is reported this long so that no mapping
// reaches past its end.
constexpr off_t kFileSize = off_t(1) << 40;

FuseNode* NodeOf(fuse_req_t req) {
    return static_cast<FuseNode*>(fuse_req_userdata(req));
}

struct stat Attributes() {
    struct stat st {};
    st.st_ino = FUSE_ROOT_ID;
    st.st_mode = S_IFREG | 0666;
    st.st_nlink = 1;
    st.st_uid = getuid();
    st.st_gid = getgid();
    st.st_size = kFileSize;
    st.st_blksize = 4096;
    return st;
}

void OnInit(void*, fuse_conn_info* conn) {
    // The page cache holds the mapped buffers; only this server changes them.
    conn->want &= ~FUSE_CAP_AUTO_INVAL_DATA;
}

void OnGetattr(fuse_req_t req, fuse_ino_t, fuse_file_info*) {
    const struct stat st = Attributes();
    fuse_reply_attr(req, &st, 0);
}

void OnSetattr(fuse_req_t req, fuse_ino_t, struct stat*, int, fuse_file_info*) {
    const struct stat st = Attributes();
    fuse_reply_attr(req, &st, 0);
}

void OnOpen(fuse_req_t req, fuse_ino_t, fuse_file_info* fi) {
    NodeOf(req)->Open(req, fi);
}

void OnRelease(fuse_req_t req, fuse_ino_t, fuse_file_info* fi) {
    NodeOf(req)->Release(req, fi);
}

void OnFlush(fuse_req_t req, fuse_ino_t, fuse_file_info*) {
    fuse_reply_err(req, 0);
}

void OnRead(fuse_req_t req, fuse_ino_t, size_t size, off_t offset, fuse_file_info*) {
    NodeOf(req)->Read(req, size, offset);
}

void OnWrite(fuse_req_t req, fuse_ino_t, const char*, size_t, off_t, fuse_file_info*) {
    fuse_reply_err(req, EINVAL);
}

void OnIoctl(fuse_req_t req, fuse_ino_t, unsigned int cmd, void*, fuse_file_info* fi,
             unsigned flags, const void* in, size_t inSize, size_t outSize) {
    if (flags & FUSE_IOCTL_COMPAT) {
        fuse_reply_err(req, ENOSYS);
        return;
    }
    NodeOf(req)->Ioctl(req, cmd, fi, in, inSize, outSize);
}

void OnPoll(fuse_req_t req, fuse_ino_t, fuse_file_info* fi, fuse_pollhandle* ph) {
    NodeOf(req)->Poll(req, fi, ph);
}

void OnInterrupt(fuse_req_t req, void* data) {
    static_cast<FuseNode*>(data)->Interrupted(req);
}

const fuse_lowlevel_ops kOps = [] {
    fuse_lowlevel_ops ops{};
    ops.init = OnInit;
    ops.getattr = OnGetattr;
    ops.setattr = OnSetattr;
    ops.open = OnOpen;
    ops.release = OnRelease;
    ops.flush = OnFlush;
    ops.read = OnRead;
    ops.write = OnWrite;
    ops.ioctl = OnIoctl;
    ops.poll = OnPoll;
    return ops;
}();

}  // namespace

FuseNode::FuseNode(std::shared_ptr<hw::v4l2::FakeDevice> device, std::string path)
    : m_device(std::move(device)), m_path(std::move(path)) {
    m_device->SetTransport(
        [this](off_t offset, const uint8_t* data, size_t size) { Publish(offset, data, size); },
        [this] { Wake(); });
}

// Only once the session has ended (or never began): see WaitClosed.
FuseNode::~FuseNode() {
    Detach();
    if (m_loop.joinable()) m_loop.join();
    if (m_session) {
        // The connection has ended (the node was detached before): this only releases what the
        // session kept of its mount.
        fuse_session_unmount(m_session);
        fuse_session_destroy(m_session);
    }
    m_device->SetTransport(nullptr, nullptr);
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& [handle, ph] : m_pollHandles) fuse_pollhandle_destroy(ph);
}

bool FuseNode::Mount(std::string* error) {
    const int fd = open(m_path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) {
        *error = m_path + ": " + std::strerror(errno);
        return false;
    }
    close(fd);
    char name[] = "fakecam";
    char option[] = "-o";
    char options[] = "fsname=lumacap-fakecam,subtype=fakecam";
    char* argv[] = {name, option, options, nullptr};
    fuse_args args = FUSE_ARGS_INIT(3, argv);
    m_session = fuse_session_new(&args, &kOps, sizeof(kOps), this);
    fuse_opt_free_args(&args);
    if (!m_session) {
        *error = "cannot start a FUSE session";
        return false;
    }
    if (fuse_session_mount(m_session, m_path.c_str()) != 0) {
        *error = "cannot mount over " + m_path + " (is /dev/fuse there, and fusermount3?)";
        fuse_session_destroy(m_session);
        m_session = nullptr;
        return false;
    }
    m_mounted = true;
    m_loop = std::thread([this] {
        // Signals are the main thread's (its reading of commands is what they interrupt); the
        // session's workers and the device's producer inherit this mask.
        sigset_t signals;
        sigfillset(&signals);
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);
        fuse_loop_config* config = fuse_loop_cfg_create();
        fuse_loop_cfg_set_max_threads(config, 8);
        fuse_session_loop_mt(m_session, config);
        fuse_loop_cfg_destroy(config);
        m_ended = true;
    });
    return true;
}

void FuseNode::Detach() {
    // As the kernel does: the device stops answering first, then its node goes.
    m_device->SetPresent(false);
    if (!m_mounted) return;
    m_mounted = false;
    // Lazily, so that open files keep being answered (with ENODEV) until they close; the file
    // system ends when the last of them does.
    if (geteuid() == 0) {
        umount2(m_path.c_str(), MNT_DETACH);
    } else if (const pid_t pid = fork(); pid == 0) {
        execlp("fusermount3", "fusermount3", "-u", "-z", "-q", m_path.c_str(), nullptr);
        _exit(127);
    } else if (pid > 0) {
        int status = 0;
        waitpid(pid, &status, 0);
    }
    unlink(m_path.c_str());
}

bool FuseNode::WaitClosed(int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        // Once unmounted and closed by everyone, the kernel ends the session.
        if (!m_session || m_ended) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void FuseNode::Open(fuse_req_t req, fuse_file_info* fi) {
    const int handle = m_device->Open();
    if (handle < 0) {
        fuse_reply_err(req, -handle);
        return;
    }
    fi->fh = static_cast<uint64_t>(handle);
    fi->keep_cache = 1;
    fi->direct_io = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_blocking[handle] = !(fi->flags & O_NONBLOCK);
    }
    if (fuse_reply_open(req, fi) != 0) m_device->Release(handle);
}

void FuseNode::Release(fuse_req_t req, fuse_file_info* fi) {
    const int handle = static_cast<int>(fi->fh);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_blocking.erase(handle);
        if (auto it = m_pollHandles.find(handle); it != m_pollHandles.end()) {
            fuse_pollhandle_destroy(it->second);
            m_pollHandles.erase(it);
        }
    }
    m_device->Release(handle);
    fuse_reply_err(req, 0);
}

// Mapped pages the kernel has not been given yet are read here.
void FuseNode::Read(fuse_req_t req, size_t size, off_t offset) {
    std::vector<uint8_t> data(size);
    m_device->ReadAt(offset, data.data(), size);
    fuse_reply_buf(req, reinterpret_cast<const char*>(data.data()), size);
}

void FuseNode::Reply(fuse_req_t req, int result, std::vector<uint8_t>& arg, size_t outSize) {
    if (result < 0)
        fuse_reply_err(req, -result);
    else
        fuse_reply_ioctl(req, result, outSize ? arg.data() : nullptr, outSize);
}

// Only well-formed ioctls reach a FUSE file (their size and direction in the request number),
// which every V4L2 request is.
void FuseNode::Ioctl(fuse_req_t req, unsigned int cmd, fuse_file_info* fi, const void* in,
                     size_t inSize, size_t outSize) {
    const int handle = static_cast<int>(fi->fh);
    std::vector<uint8_t> arg(std::max<size_t>({inSize, outSize, 1}), 0);
    if (inSize) std::memcpy(arg.data(), in, inSize);
    const int result = m_device->Ioctl(handle, cmd, arg.data());
    if (result == -EAGAIN && cmd == VIDIOC_DQBUF) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_blocking[handle]) {
            m_parked.push_back({req, handle, std::move(arg), outSize});
            fuse_req_interrupt_func(req, OnInterrupt, this);
            return;
        }
    }
    Reply(req, result, arg, outSize);
}

void FuseNode::Poll(fuse_req_t req, fuse_file_info* fi, fuse_pollhandle* ph) {
    const int handle = static_cast<int>(fi->fh);
    if (ph) {
        std::lock_guard<std::mutex> lock(m_mutex);
        fuse_pollhandle*& slot = m_pollHandles[handle];
        if (slot) fuse_pollhandle_destroy(slot);
        slot = ph;
    }
    fuse_reply_poll(req, static_cast<unsigned>(m_device->Poll(handle)));
}

void FuseNode::Interrupted(fuse_req_t req) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_parked.begin(); it != m_parked.end(); ++it)
        if (it->req == req) {
            fuse_reply_err(req, EINTR);
            m_parked.erase(it);
            return;
        }
}

// The client maps the file's pages: the frame goes into them before the buffer can be dequeued.
void FuseNode::Publish(off_t offset, const uint8_t* data, size_t size) {
    if (!m_session || size == 0) return;
    fuse_bufvec buffer = FUSE_BUFVEC_INIT(size);
    buffer.buf[0].mem = const_cast<uint8_t*>(data);
    fuse_lowlevel_notify_store(m_session, FUSE_ROOT_ID, offset, &buffer, fuse_buf_copy_flags(0));
}

void FuseNode::Wake() {
    std::vector<Parked> parked;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& [handle, ph] : m_pollHandles) fuse_lowlevel_notify_poll(ph);
        parked.swap(m_parked);
    }
    std::vector<Parked> still;
    for (Parked& p : parked) {
        const int result = m_device->Ioctl(p.handle, VIDIOC_DQBUF, p.arg.data());
        if (result == -EAGAIN && fuse_req_interrupted(p.req))
            fuse_reply_err(p.req, EINTR);
        else if (result == -EAGAIN)
            still.push_back(std::move(p));
        else
            Reply(p.req, result, p.arg, p.outSize);
    }
    if (!still.empty()) {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (Parked& p : still) m_parked.push_back(std::move(p));
    }
}

}  // namespace lumacap::fakecam
