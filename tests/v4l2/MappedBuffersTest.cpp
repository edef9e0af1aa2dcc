// Frames lent in the driver's mapped buffers: each buffer goes back to the driver only when its
// sample comes back, and a sample held past the end of the stream keeps its mapping.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "platform/system/hw/v4l2/MappedBuffers.h"

namespace lumacap::test {
namespace {

// Mappings from the heap; the test counts what is unmapped.
struct HeapApi final : hw::v4l2::Api {
    int unmapped = 0;
    int Open(const std::string&) override { return -ENOENT; }
    int Close(int) override { return 0; }
    int Ioctl(int, unsigned long, void*) override { return -ENOTTY; }
    void* Mmap(int, size_t length, off_t, int*) override { return std::calloc(1, length); }
    int Munmap(void* address, size_t) override {
        std::free(address);
        ++unmapped;
        return 0;
    }
    int Poll(int, short, short*, int) override { return 0; }
    bool ReadAttribute(const std::string&, const std::string&, std::string*) override {
        return false;
    }
    std::vector<std::string> ListNodes() override { return {}; }
    std::unique_ptr<hw::v4l2::DirectoryWatch> Watch(hw::v4l2::NodeChange) override {
        return nullptr;
    }
    std::string NodePath(const std::string& name) const override { return name; }
};

TEST(MappedBuffers, BuffersReturnWithTheirSamplesAndOutliveTheStreamWhileLent) {
    auto api = std::make_shared<HeapApi>();
    auto buffers = std::make_shared<hw::v4l2::MappedBuffers>(api);
    for (int i = 0; i < 2; ++i) {
        int error = 0;
        ASSERT_TRUE(buffers->Add(api->Mmap(-1, 4096, 0, &error), 4096));
    }
    EXPECT_EQ(buffers->Lend(2, 10), nullptr);
    EXPECT_EQ(buffers->Lend(0, 5000), nullptr);
    IMediaSample* first = buffers->Lend(0, 1000);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(buffers->Lend(0, 1000), nullptr) << "a buffer lent twice";
    EXPECT_EQ(first->GetActualDataLength(), 1000);
    BYTE* bytes = nullptr;
    ASSERT_EQ(first->GetPointer(&bytes), S_OK);
    EXPECT_EQ(bytes, buffers->Address(0));

    // A reader's reference keeps the buffer from the driver until it is released.
    first->AddRef();
    first->Release();
    std::vector<uint32_t> returned;
    buffers->TakeReturned(&returned);
    EXPECT_TRUE(returned.empty());
    first->Release();
    buffers->TakeReturned(&returned);
    EXPECT_EQ(returned, std::vector<uint32_t>{0});

    // The stream ends while a sample is still held: the mapping stays until the release.
    IMediaSample* held = buffers->Lend(1, 4096);
    ASSERT_NE(held, nullptr);
    EXPECT_TRUE(buffers->Outstanding());
    buffers.reset();
    EXPECT_EQ(api->unmapped, 0);
    held->GetPointer(&bytes);
    bytes[4095] = 1;
    held->Release();
    EXPECT_EQ(api->unmapped, 2);
}

}  // namespace
}  // namespace lumacap::test
