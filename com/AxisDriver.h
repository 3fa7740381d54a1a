#pragma once
// The Axis device driver as this library calls it: an outside COM server whose
// jog dial and keypad objects are collections of devices, each an event source.
// Only the slots below are relied on; slots 3 to 6 exist in the driver's
// vtables and are never called from here. Every HRESULT the driver returns is
// ignored by the library: counts are preset to 0, devices tested for null.

#include <windows.h>
#include <ole2.h>
#include <comdef.h>

#include "com/ComRef.h"

// Class and interface identifiers of the driver.
// {7CC50CF7-AB83-4DF7-80A9-CA43FB554BBB}
inline constexpr CLSID CLSID_AxisJogDial = {
    0x7CC50CF7, 0xAB83, 0x4DF7, {0x80, 0xA9, 0xCA, 0x43, 0xFB, 0x55, 0x4B, 0xBB}};
// {7A72DE87-60CD-446E-9CE7-074DA5DA4FCF}
inline constexpr CLSID CLSID_AxisKeyPad = {
    0x7A72DE87, 0x60CD, 0x446E, {0x9C, 0xE7, 0x07, 0x4D, 0xA5, 0xDA, 0x4F, 0xCF}};
// {4F12A272-8D8F-48EA-BEC2-B89FB44A00AF}
inline constexpr IID DIID__IAxisJogDialEvents = {
    0x4F12A272, 0x8D8F, 0x48EA, {0xBE, 0xC2, 0xB8, 0x9F, 0xB4, 0x4A, 0x00, 0xAF}};
// {788CB7CD-02F7-4414-9DB8-FC2904F30592}
inline constexpr IID DIID__IAxisKeyPadEvents = {
    0x788CB7CD, 0x02F7, 0x4414, {0x9D, 0xB8, 0xFC, 0x29, 0x04, 0xF3, 0x05, 0x92}};
// {9BE025DF-EFB6-42AC-AADE-E57DDC13C4D5} (described by the type library only)
inline constexpr IID DIID__IAxisJoystickEvents = {
    0x9BE025DF, 0xEFB6, 0x42AC, {0xAA, 0xDE, 0xE5, 0x7D, 0xDC, 0x13, 0xC4, 0xD5}};

// Slots 3 to 6: present in the driver's vtables, never called by the library.
#define DRAVLO_AXIS_UNUSED_SLOTS                   \
    virtual HRESULT STDMETHODCALLTYPE Slot3() = 0; \
    virtual HRESULT STDMETHODCALLTYPE Slot4() = 0; \
    virtual HRESULT STDMETHODCALLTYPE Slot5() = 0; \
    virtual HRESULT STDMETHODCALLTYPE Slot6() = 0

// The device interfaces are only ever handed out by GetItem; nobody asks for
// them by IID, so they carry none.
struct IJogDialDevice : public IUnknown {
    DRAVLO_AXIS_UNUSED_SLOTS;
    virtual HRESULT STDMETHODCALLTYPE Start() = 0;  // slot 7
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;   // slot 8; may come twice
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;  // slot 9
};

MIDL_INTERFACE("BAD45FCA-F430-4E35-874D-B0CDD06F9785")
IJogDialCollection : public IUnknown {
public:
    DRAVLO_AXIS_UNUSED_SLOTS;
    /// Slot 7. The caller presets *count to 0.
    virtual HRESULT STDMETHODCALLTYPE GetCount(int* count) = 0;
    /// Slot 8. Always writes *device (null: no device); the caller owns the reference.
    virtual HRESULT STDMETHODCALLTYPE GetItem(int index, IJogDialDevice** device) = 0;
};

struct IKeyPadDevice : public IUnknown {
    DRAVLO_AXIS_UNUSED_SLOTS;
    virtual HRESULT STDMETHODCALLTYPE Start() = 0;                                 // slot 7
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;                                  // slot 8
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;                                 // slot 9
    virtual HRESULT STDMETHODCALLTYPE SetBacklight(int buttonNumber, int on) = 0;  // slot 10; on is 1 or 0
};

MIDL_INTERFACE("15FCBDC0-CD5E-4CF1-B1FE-1C17162E572E")
IKeyPadCollection : public IUnknown {
public:
    DRAVLO_AXIS_UNUSED_SLOTS;
    virtual HRESULT STDMETHODCALLTYPE GetCount(int* count) = 0;                        // slot 7
    virtual HRESULT STDMETHODCALLTYPE GetItem(int index, IKeyPadDevice** device) = 0;  // slot 8
};

#ifdef __CRT_UUID_DECL
__CRT_UUID_DECL(IJogDialCollection, 0xBAD45FCA, 0xF430, 0x4E35, 0x87, 0x4D, 0xB0, 0xCD, 0xD0, 0x6F, 0x97, 0x85)
__CRT_UUID_DECL(IKeyPadCollection, 0x15FCBDC0, 0xCD5E, 0x4CF1, 0xB1, 0xFE, 0x1C, 0x17, 0x16, 0x2E, 0x57, 0x2E)
#endif

/// Smart holders of one collection reference. Calling through, or Release()
/// on, an empty holder raises _com_error(E_POINTER), which is not a
/// std::exception; the entry points map it to their fixed message.
_COM_SMARTPTR_TYPEDEF(IJogDialCollection, __uuidof(IJogDialCollection));
_COM_SMARTPTR_TYPEDEF(IKeyPadCollection, __uuidof(IKeyPadCollection));

namespace Dravlo {

/// The driver's creation sequence: CoCreateInstance(CLSCTX_ALL) for IUnknown,
/// OleRun, QueryInterface for `iid`, then release of the IUnknown whatever the
/// outcome. Returns the interface `iid` (held as IUnknown*) or an empty owner.
/// The callers only test for null; the failing call and its code are kept
/// for Java to read (com/ComFailure.h), and change nothing else.
ComRef<IUnknown> createAxisObject(REFCLSID clsid, REFIID iid) noexcept;

/// Fills `holder` from the driver class by the creation sequence; any failure
/// leaves it empty. Takes over the one reference the sequence returns.
inline void createAxisCollection(REFCLSID clsid, IJogDialCollectionPtr& holder) noexcept {
    holder.Attach(static_cast<IJogDialCollection*>(createAxisObject(clsid, __uuidof(IJogDialCollection)).detach()));
}
inline void createAxisCollection(REFCLSID clsid, IKeyPadCollectionPtr& holder) noexcept {
    holder.Attach(static_cast<IKeyPadCollection*>(createAxisObject(clsid, __uuidof(IKeyPadCollection)).detach()));
}

}  // namespace Dravlo
