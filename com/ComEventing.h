#pragma once
// The eventing base of a receiver: a list of connection nodes, each one sink
// connected to one event source for one receiver, with the dispatch codes
// that bind the source's events to the receiver's operations.
//
// A receiver derives from __ComEventingImpl<Receiver> and, on itself, calls
// hook(this, code, device, index, count) for each event and
// unhook(this, device, index) for each before it goes; the device's interface
// type picks the sink (SinkOf). For any other source the sink class is named:
// hook<__Impl__IAxisJogDialEvents>(this, code, source, index, count).
//
// Caveats:
// - hook and unhook are the only writers of the list; call them on one thread
//   (the receiver's apartment). Events may meanwhile arrive on any thread;
//   they read only the dispatch codes, which are atomic.
// - Every sink shares the base's DeliveryRundown and enters it for each
//   delivery; the receiver's teardown closes and waits on it (DeviceReceiver).
// - Nodes stay in the list until the base is destroyed. Destruction does not
//   Unadvise; it cuts each sink off from its node first, so a sink that a
//   source still holds drops its events instead of reaching freed memory.

#include <windows.h>

#include <atomic>
#include <memory>
#include <new>
#include <utility>

#include "com/DeliveryRundown.h"
#include "com/EventHandlerProxy.h"
#include "com/EventSink.h"
#include "com/SinkSupport.h"

namespace Dravlo {

template <class T>
class __ComEventingImpl : public __EventHandlerProxy {
public:
    /// Binds event `eventIndex` of the source's event interface `Sink::diid` to
    /// `dispatchCode` and connects a sink when the node has none connected. A
    /// second binding of one event goes to a further node with its own sink and
    /// connection. Null source or receiver → E_FAIL; a failed Advise is
    /// returned and leaves the binding in place with no connection.
    template <class Sink>
    HRESULT hook(T* receiver, int dispatchCode, IUnknown* source, int eventIndex, int eventCount) noexcept;

    /// Removes the binding of `eventIndex`; the node's last binding disconnects
    /// its sink and drops the source. Not bound → E_FAIL; a failed Unadvise is
    /// returned and leaves the connection in place.
    template <class Sink>
    HRESULT unhook(T* receiver, IUnknown* source, int eventIndex) noexcept;

    /// hook with the sink of an Axis device's event interface (SinkOf<Source>).
    template <class Source>
    HRESULT hook(T* receiver, int dispatchCode, Source* source, int eventIndex, int eventCount) noexcept {
        return hook<typename SinkOf<Source>::type>(receiver, dispatchCode, source, eventIndex, eventCount);
    }
    /// unhook with the sink of an Axis device's event interface (SinkOf<Source>).
    template <class Source>
    HRESULT unhook(T* receiver, Source* source, int eventIndex) noexcept {
        return unhook<typename SinkOf<Source>::type>(receiver, source, eventIndex);
    }

    /// The rundown every delivery to this receiver enters (shared with its sinks).
    const std::shared_ptr<DeliveryRundown>& rundown() const noexcept { return rundown_; }

protected:
    __ComEventingImpl() = default;
    __ComEventingImpl(const __ComEventingImpl&) = delete;  // the nodes have one owner
    __ComEventingImpl& operator=(const __ComEventingImpl&) = delete;
    /// Frees every node: releases its sink and source. Does not Unadvise.
    ~__ComEventingImpl();

    class __ComEventingNode;

private:
    template <class Sink>
    HRESULT findOrCreateNode(IUnknown* source, T* receiver, int eventCount, bool continueSearch) noexcept;
    template <class Sink>
    HRESULT createNode(IUnknown* source, T* receiver, int eventCount) noexcept;
    bool matches(const __ComEventingNode* node, IUnknown* source, const T* receiver, REFIID diid) const noexcept;

    __ComEventingNode* first = nullptr;
    __ComEventingNode* last = nullptr;
    __ComEventingNode* cursor = nullptr;
    std::shared_ptr<DeliveryRundown> rundown_ = std::make_shared<DeliveryRundown>();
};

/// One connection of one receiver to one event source. Owns its sink and its
/// source reference; the dispatch codes may be read from any thread.
template <class T>
class __ComEventingImpl<T>::__ComEventingNode final : public __EventHandlerNodeProxy {
public:
    int dispatchCodeOf(int eventIndex) const noexcept override {
        if (eventIndex < 0 || eventIndex >= eventCount) return NoDispatchCode;
        return dispatchCodes[eventIndex].load();
    }
    __ComEventingNode() = default;
    __ComEventingNode(const __ComEventingNode&) = delete;
    __ComEventingNode& operator=(const __ComEventingNode&) = delete;
    /// Cuts the sink off before the node goes; the sink may outlive it.
    ~__ComEventingNode() {
        if (sink) sink->disconnectReceiver();
    }

    T* receiver = nullptr;
    std::unique_ptr<std::atomic<int>[]> dispatchCodes;
    int eventCount = 0;
    int hookedCount = 0;
    DWORD cookie = 0;
    ComRef<IUnknown> source;
    ComRef<EventSink> sink;
    IID eventIid{};
    __ComEventingNode* next = nullptr;
};

template <class T>
__ComEventingImpl<T>::~__ComEventingImpl() {
    for (__ComEventingNode* node = first; node != nullptr;) delete std::exchange(node, node->next);
}

template <class T>
bool __ComEventingImpl<T>::matches(const __ComEventingNode* node, IUnknown* source, const T* receiver,
                                   REFIID diid) const noexcept {
    return node != nullptr && node->receiver == receiver && IsEqualIID(node->eventIid, diid) &&
           sameObject(node->source.get(), source);
}

template <class T>
template <class Sink>
HRESULT __ComEventingImpl<T>::findOrCreateNode(IUnknown* source, T* receiver, int eventCount,
                                               bool continueSearch) noexcept {
    cursor = continueSearch ? (cursor != nullptr ? cursor->next : nullptr) : first;
    if (matches(cursor, source, receiver, Sink::diid)) return S_OK;
    if (cursor != nullptr) {
        for (__ComEventingNode* node = cursor->next; node != nullptr; node = node->next) {
            if (matches(node, source, receiver, Sink::diid)) {
                cursor = node;
                return S_OK;
            }
        }
    }
    return createNode<Sink>(source, receiver, eventCount);
}

template <class T>
template <class Sink>
HRESULT __ComEventingImpl<T>::createNode(IUnknown* source, T* receiver, int eventCount) noexcept {
    CComObject<Sink>* made = nullptr;
    HRESULT hr = CComObject<Sink>::CreateInstance(&made);
    if (FAILED(hr)) return hr;
    ComRef<EventSink> sink = ComRef<EventSink>::copy(made);
    std::unique_ptr<__ComEventingNode> node(new (std::nothrow) __ComEventingNode());
    if (!node) return E_OUTOFMEMORY;
    node->dispatchCodes.reset(new (std::nothrow) std::atomic<int>[eventCount]);
    if (!node->dispatchCodes) return E_OUTOFMEMORY;
    for (int i = 0; i < eventCount; ++i) node->dispatchCodes[i].store(NoDispatchCode);
    node->receiver = receiver;
    node->eventCount = eventCount;
    node->source = ComRef<IUnknown>::copy(source);
    node->eventIid = Sink::diid;
    made->attach(receiver, node.get(), rundown_);
    node->sink = std::move(sink);
    __ComEventingNode* appended = node.release();
    (last != nullptr ? last->next : first) = appended;
    last = cursor = appended;
    return S_OK;
}

template <class T>
template <class Sink>
HRESULT __ComEventingImpl<T>::hook(T* receiver, int dispatchCode, IUnknown* source, int eventIndex,
                                   int eventCount) noexcept {
    if (source == nullptr || receiver == nullptr) return E_FAIL;
    if (eventCount <= 0 || eventIndex < 0 || eventIndex >= eventCount) return E_INVALIDARG;
    for (bool continueSearch = false;; continueSearch = true) {
        HRESULT hr = findOrCreateNode<Sink>(source, receiver, eventCount, continueSearch);
        if (FAILED(hr)) return hr;
        __ComEventingNode& node = *cursor;
        // A receiver that passed a different count for this interface before
        // would index outside the node's codes.
        if (eventIndex >= node.eventCount) return E_INVALIDARG;
        bool bound = false;
        if (node.dispatchCodes[eventIndex].load() == NoDispatchCode) {
            node.dispatchCodes[eventIndex].store(dispatchCode);
            ++node.hookedCount;
            node.receiver = receiver;
            bound = true;
        }
        if (node.cookie == 0) return adviseSink(source, node.sink.get(), Sink::diid, &node.cookie);
        if (bound) return S_OK;
    }
}

template <class T>
template <class Sink>
HRESULT __ComEventingImpl<T>::unhook(T* receiver, IUnknown* source, int eventIndex) noexcept {
    for (bool continueSearch = false;; continueSearch = true) {
        if (continueSearch && cursor == nullptr) return E_FAIL;
        cursor = continueSearch ? cursor->next : first;
        if (!matches(cursor, source, receiver, Sink::diid)) {
            if (cursor == nullptr) return E_FAIL;
            __ComEventingNode* found = nullptr;
            for (__ComEventingNode* node = cursor->next; node != nullptr; node = node->next)
                if (matches(node, source, receiver, Sink::diid) && node->dispatchCodeOf(eventIndex) != NoDispatchCode)
                    found = node;
            if (found == nullptr) return E_FAIL;
            cursor = found;
        }
        __ComEventingNode& node = *cursor;
        const bool removed = node.dispatchCodeOf(eventIndex) != NoDispatchCode;
        if (removed) {
            node.dispatchCodes[eventIndex].store(NoDispatchCode);
            --node.hookedCount;
        }
        if (node.cookie != 0 && node.hookedCount == 0) {
            HRESULT hr = unadviseSink(node.source.get(), Sink::diid, node.cookie);
            if (SUCCEEDED(hr)) {
                node.source.reset();
                node.cookie = 0;
            }
            return hr;
        }
        if (removed) return S_OK;
    }
}

}  // namespace Dravlo
