// zelhost.exe's PNG writer: a known image written and read back, from the file's own bytes (the
// PNG header) and through the system's decoder (every pixel).
#include <gtest/gtest.h>

#include <windows.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "DecodePng.h"
#include "PngWin32.h"

using Microsoft::WRL::ComPtr;
using namespace zelhost;

namespace {

// A pixel of the test image that differs in each channel from its neighbours.
RGBQUAD Pixel(int x, int y) {
    return {static_cast<BYTE>(x * 40 + 1), static_cast<BYTE>(y * 60 + 2), static_cast<BYTE>(x * 7 + y * 30 + 3), 0};
}

// A DIB section of `bits` per pixel with the test image; a negative height stores rows top-down.
HBITMAP MakeImage(int width, int height, WORD bits) {
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, bits, BI_RGB, 0, 0, 0, 0, 0};
    void* pixels = nullptr;
    HBITMAP image = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    if (!image) return nullptr;
    const int rows = height < 0 ? -height : height;
    const int stride = (width * bits / 8 + 3) & ~3;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < width; ++x) {
            const RGBQUAD p = Pixel(x, y);
            BYTE* at = static_cast<BYTE*>(pixels) + (height < 0 ? y : rows - 1 - y) * stride + x * bits / 8;
            at[0] = p.rgbBlue;
            at[1] = p.rgbGreen;
            at[2] = p.rgbRed;
        }
    return image;
}

uint32_t BigEndian(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
    return value;
}

}  // namespace

// Declared in DecodePng.h for the page test, which reads a screenshot back with it.
std::string DecodedPixels(const std::string& file, UINT& width, UINT& height) {
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    WICPixelFormatGUID format{};
    const std::wstring name(file.begin(), file.end());
    if (FAILED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory))) ||
        FAILED(factory->CreateDecoderFromFilename(name.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                                  &decoder)) ||
        FAILED(decoder->GetFrame(0, &frame)) || FAILED(frame->GetSize(&width, &height)) ||
        FAILED(frame->GetPixelFormat(&format)) || format != GUID_WICPixelFormat24bppBGR)
        return {};
    std::string pixels(static_cast<size_t>(width) * height * 3, '\0');
    if (FAILED(frame->CopyPixels(nullptr, width * 3, static_cast<UINT>(pixels.size()), reinterpret_cast<BYTE*>(pixels.data()))))
        return {};
    return pixels;
}

TEST(PngWin32, WritesTheImageAsA24BitPngThatDecodesToItsPixels) {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));  // for the decoder
    const std::string file = (std::filesystem::temp_directory_path() / "zelhost-png-test.png").string();
    // width | height (negative: rows stored top-down) | bits per pixel of the bitmap
    const struct { int width; int height; WORD bits; } cases[] = {
        {5, 3, 24},  // 15 bytes a row, padded to 16
        {5, -3, 24},
        {1, 1, 24},
        {4, 2, 32},
    };
    for (const auto& c : cases) {
        const std::string name = std::to_string(c.width) + "x" + std::to_string(c.height) + "@" + std::to_string(c.bits);
        HBITMAP image = MakeImage(c.width, c.height, c.bits);
        ASSERT_TRUE(image) << name;
        EXPECT_NO_THROW(WritePng(image, file)) << name;
        ::DeleteObject(image);

        std::ifstream in(file, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        in.close();
        ASSERT_GE(bytes.size(), 33u) << name;
        EXPECT_EQ(bytes.substr(0, 16), std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16)) << name;
        EXPECT_EQ(BigEndian(bytes, 16), static_cast<uint32_t>(c.width)) << name;
        EXPECT_EQ(BigEndian(bytes, 20), static_cast<uint32_t>(c.height < 0 ? -c.height : c.height)) << name;
        EXPECT_EQ(bytes[24], 8) << name << ": bits per channel";
        EXPECT_EQ(bytes[25], 2) << name << ": colour type RGB";

        UINT width = 0;
        UINT height = 0;
        const std::string pixels = DecodedPixels(file, width, height);
        ASSERT_EQ(pixels.size(), static_cast<size_t>(width) * height * 3) << name;
        for (UINT y = 0; y < height; ++y)
            for (UINT x = 0; x < width; ++x) {
                const RGBQUAD p = Pixel(static_cast<int>(x), static_cast<int>(y));
                const size_t at = (y * width + x) * 3;
                EXPECT_EQ(pixels.substr(at, 3), std::string({static_cast<char>(p.rgbBlue), static_cast<char>(p.rgbGreen),
                                                              static_cast<char>(p.rgbRed)}))
                    << name << " at " << x << "," << y;
            }
    }
    std::filesystem::remove(file);
    ::CoUninitialize();
}

TEST(PngWin32, AFailureNamesTheFileAndTheStepAndLeavesNoFile) {
    const std::string folder = (std::filesystem::temp_directory_path() / "zelhost-png-test-dir").string();
    std::filesystem::create_directories(folder);
    HBITMAP image = MakeImage(2, 2, 24);
    ASSERT_TRUE(image);
    // bitmap | file | the message begins with
    const struct { HBITMAP image; std::string file; std::string error; } cases[] = {
        {image, folder + "\\missing\\page.png", "cannot write the PNG file " + folder + "\\missing\\page.png: creating the file failed"},
        {image, folder, "cannot write the PNG file " + folder + ": creating the file failed"},
        {nullptr, folder + "\\page.png", "cannot write the PNG file " + folder + "\\page.png: reading the bitmap failed"},
    };
    for (const auto& c : cases) {
        std::string error;
        try {
            WritePng(c.image, c.file);
        } catch (const std::exception& e) {
            error = e.what();
        }
        EXPECT_EQ(error.substr(0, c.error.size()), c.error);
        EXPECT_TRUE(std::filesystem::is_empty(folder)) << c.file;
    }
    ::DeleteObject(image);
    std::filesystem::remove_all(folder);
}
