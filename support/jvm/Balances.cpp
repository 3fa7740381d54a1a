// What tests read back from the stand-in: counts, pending and uncaught
// exceptions, violations, and the summary of everything left over.

#include <sstream>

#include "support/jvm/JvmStandIn.h"
#include "support/jvm/Model.h"

namespace StandIn {

using detail::State;
using Lock = std::unique_lock<std::recursive_mutex>;

std::optional<ThrowableInfo> JvmStandIn::pendingException(std::thread::id thread) const {
    Lock lock(state_->mutex);
    auto found = state_->attached.find(thread);
    if (found == state_->attached.end() || !found->second->pending) return std::nullopt;
    return State::describe(*found->second->pending);
}

std::vector<ThrowableInfo> JvmStandIn::uncaughtExceptions() const {
    Lock lock(state_->mutex);
    return state_->uncaught;
}

std::vector<ThrowableInfo> JvmStandIn::describedExceptions() const {
    Lock lock(state_->mutex);
    return state_->described;
}

std::size_t JvmStandIn::liveGlobalRefs() const {
    Lock lock(state_->mutex);
    return state_->liveGlobals;
}

std::size_t JvmStandIn::liveLocalRefs() const {
    Lock lock(state_->mutex);
    return state_->liveLocals;
}

std::size_t JvmStandIn::liveLocalRefs(std::thread::id thread) const {
    Lock lock(state_->mutex);
    auto found = state_->attached.find(thread);
    return found == state_->attached.end() ? 0 : found->second->liveLocals;
}

std::size_t JvmStandIn::attaches() const {
    Lock lock(state_->mutex);
    return state_->attachCount;
}

std::size_t JvmStandIn::detaches() const {
    Lock lock(state_->mutex);
    return state_->detachCount;
}

std::size_t JvmStandIn::failedAttaches() const {
    Lock lock(state_->mutex);
    return state_->failedAttachCount;
}

std::size_t JvmStandIn::attachedNativeThreads() const {
    Lock lock(state_->mutex);
    std::size_t count = 0;
    for (const auto& entry : state_->attached)
        if (entry.second->kind == detail::ThreadKind::Native) ++count;
    return count;
}

bool JvmStandIn::isAttached(std::thread::id thread) const {
    Lock lock(state_->mutex);
    return state_->attached.count(thread) != 0;
}

std::size_t JvmStandIn::instancesCreated(const std::string& className) const {
    Lock lock(state_->mutex);
    auto found = state_->created.find(className);
    return found == state_->created.end() ? 0 : found->second;
}

std::vector<std::string> JvmStandIn::violations() const {
    Lock lock(state_->mutex);
    return state_->violations;
}

void JvmStandIn::clearViolations() {
    Lock lock(state_->mutex);
    state_->violations.clear();
}

void JvmStandIn::setViolationHandler(ViolationHandler handler) {
    Lock lock(state_->mutex);
    state_->handler = std::move(handler);
}

std::string JvmStandIn::imbalance() const {
    Lock lock(state_->mutex);
    const State& s = *state_;
    std::ostringstream out;
    const char* separator = "";
    auto item = [&]() -> std::ostringstream& {
        out << separator;
        separator = "; ";
        return out;
    };
    if (s.liveGlobals != 0) item() << s.liveGlobals << " global reference(s) live";
    if (s.liveLocals != 0) item() << s.liveLocals << " local reference(s) live";
    if (s.attachCount != s.detachCount) item() << s.attachCount << " attach(es) but " << s.detachCount << " detach(es)";
    for (const auto& [id, thread] : s.attached) {
        if (thread->kind == detail::ThreadKind::Native) item() << "native thread " << id << " still attached";
        if (thread->pending) {
            const ThrowableInfo info = State::describe(*thread->pending);
            item() << "exception pending on thread " << id << " (" << info.className << ": " << info.message << ")";
        }
    }
    if (!s.violations.empty()) item() << s.violations.size() << " JNI violation(s), first: " << s.violations.front();
    return out.str();
}

}  // namespace StandIn
