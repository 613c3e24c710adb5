#include "PngWin32.h"

#include <wincodec.h>
#include <wrl/client.h>

#include "Win32Text.h"
#include "platform/Exceptions.h"

namespace zelhost {

namespace {

using Microsoft::WRL::ComPtr;

// COM on this thread while it lives; a thread that has it already, in either model, keeps it.
class TComUse {
public:
    TComUse() : FResult(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~TComUse() {
        if (SUCCEEDED(FResult)) ::CoUninitialize();
    }
    TComUse(const TComUse&) = delete;
    TComUse& operator=(const TComUse&) = delete;

private:
    const HRESULT FResult;
};

// Raises the failure of `step` with the system's words for `result`.
void Check(HRESULT result, const char* step) {
    if (FAILED(result))
        throw zel::Exception(std::string(step) + " failed (" + Win32ErrorText(static_cast<DWORD>(result)) + ")");
}

// The encoding itself; `opened` is set once the file has been created.
void Encode(HBITMAP image, const std::wstring& name, bool& opened) {
    ComPtr<IWICImagingFactory> factory;
    Check(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory)),
          "making the imaging factory");
    ComPtr<IWICStream> stream;
    Check(factory->CreateStream(&stream), "making the file stream");
    Check(stream->InitializeFromFilename(name.c_str(), GENERIC_WRITE), "creating the file");
    opened = true;
    ComPtr<IWICBitmap> source;
    Check(factory->CreateBitmapFromHBITMAP(image, nullptr, WICBitmapIgnoreAlpha, &source), "reading the bitmap");
    ComPtr<IWICBitmapEncoder> encoder;
    Check(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder), "making the PNG encoder");
    Check(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache), "starting the PNG encoder");
    ComPtr<IWICBitmapFrameEncode> frame;
    Check(encoder->CreateNewFrame(&frame, nullptr), "making the image");
    Check(frame->Initialize(nullptr), "starting the image");
    UINT width = 0;
    UINT height = 0;
    Check(source->GetSize(&width, &height), "reading the bitmap's size");
    Check(frame->SetSize(width, height), "setting the size");
    // The encoder may answer with another format it prefers; only this one is asked for.
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    Check(frame->SetPixelFormat(&format), "setting 24-bit pixels");
    if (format != GUID_WICPixelFormat24bppBGR) throw zel::Exception("the PNG encoder does not take 24-bit pixels");
    Check(frame->WriteSource(source.Get(), nullptr), "writing the pixels");
    Check(frame->Commit(), "ending the image");
    Check(encoder->Commit(), "ending the file");
}

}  // namespace

void WritePng(HBITMAP image, const std::string& file) {
    // The name as the A functions of the rest of zelhost read it.
    const int size = ::MultiByteToWideChar(CP_ACP, 0, file.c_str(), -1, nullptr, 0);
    std::wstring name(static_cast<size_t>(size > 0 ? size : 1), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, file.c_str(), -1, name.data(), size);
    bool opened = false;
    try {
        TComUse com;
        Encode(image, name, opened);
    } catch (const std::exception& e) {
        // Encode's objects are released by now, so the half-written file is closed.
        if (opened) ::DeleteFileW(name.c_str());
        throw zel::Exception("cannot write the PNG file " + file + ": " + e.what());
    }
}

}  // namespace zelhost
