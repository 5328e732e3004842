#include "check/check.h"

#include <wincodec.h>

#include <cwchar>

namespace {

template <typename Interface>
void Release(Interface*& object)
{
    if (object != nullptr) {
        object->Release();
        object = nullptr;
    }
}

}  // namespace

// The whole virtual screen, layered windows included, as PNG (BMP for a
// name ending in .bmp), encoded by the system's imaging component.
bool SaveScreenshot(const wchar_t* path, std::string* problem)
{
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP picture = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, picture);
    BitBlt(memory, 0, 0, width, height, screen, left, top, SRCCOPY | CAPTUREBLT);
    SelectObject(memory, previous);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    const wchar_t* extension = std::wcsrchr(path, L'.');
    const bool bmp = extension != nullptr && lstrcmpiW(extension, L".bmp") == 0;
    const HRESULT initialised = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IWICImagingFactory* factory = nullptr;
    IWICBitmap* source = nullptr;
    IWICStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    HRESULT result = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory));
    if (SUCCEEDED(result)) {
        result = factory->CreateBitmapFromHBITMAP(picture, nullptr, WICBitmapIgnoreAlpha, &source);
    }
    if (SUCCEEDED(result)) {
        result = factory->CreateStream(&stream);
    }
    if (SUCCEEDED(result)) {
        result = stream->InitializeFromFilename(path, GENERIC_WRITE);
    }
    if (SUCCEEDED(result)) {
        result = factory->CreateEncoder(bmp ? GUID_ContainerFormatBmp : GUID_ContainerFormatPng, nullptr, &encoder);
    }
    if (SUCCEEDED(result)) {
        result = encoder->Initialize(stream, WICBitmapEncoderNoCache);
    }
    if (SUCCEEDED(result)) {
        result = encoder->CreateNewFrame(&frame, nullptr);
    }
    if (SUCCEEDED(result)) {
        result = frame->Initialize(nullptr);
    }
    if (SUCCEEDED(result)) {
        result = frame->WriteSource(source, nullptr);
    }
    if (SUCCEEDED(result)) {
        result = frame->Commit();
    }
    if (SUCCEEDED(result)) {
        result = encoder->Commit();
    }
    Release(frame);
    Release(encoder);
    Release(stream);
    Release(source);
    Release(factory);
    if (SUCCEEDED(initialised)) {
        CoUninitialize();
    }
    DeleteObject(picture);
    *problem = Format("%dx%d, error 0x%08lX", width, height, static_cast<unsigned long>(result));
    return SUCCEEDED(result);
}
