// JavaVmBinding: binding from a Java thread, attaching and detaching event
// threads, and the failures of GetJavaVM and AttachCurrentThread.

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "bridge/ClassNames.h"
#include "bridge/Exceptions.h"
#include "bridge/JavaVmBinding.h"
#include "bridge/JniLookup.h"
#include "bridge/Messages.h"
#include "support/jvm/GTestSupport.h"

namespace {

using namespace Dravlo;

class VmBindingTest : public StandIn::JvmTest {
protected:
    JavaVmBinding binding;
};

TEST_F(VmBindingTest, Bind_StoresTheMachine) {
    EXPECT_EQ(binding.vm(), nullptr);
    binding.bind(env);
    EXPECT_EQ(binding.vm(), vm.javaVm());
}

TEST_F(VmBindingTest, Bind_GetJavaVMFails_ThrowsAndStaysUnbound) {
    vm.failGetJavaVM();
    try {
        binding.bind(env);
        ADD_FAILURE() << "bind did not throw";
    } catch (const JNIException& failure) {
        EXPECT_STREQ(failure.what(), Messages::NoVirtualMachine);
    }
    EXPECT_EQ(binding.vm(), nullptr);
    EXPECT_EQ(binding.attach(), nullptr);
}

TEST_F(VmBindingTest, AttachDetach_EventThreadIsBalancedAndItsLocalsEndAtDetach) {
    binding.bind(env);
    std::thread eventThread([&] {
        JNIEnv* eventEnv = binding.attach();
        ASSERT_NE(eventEnv, nullptr);
        EXPECT_NE(eventEnv, env);
        EXPECT_EQ(vm.attachedNativeThreads(), 1u);
        // The class found by name on the event thread lives until detach.
        eventEnv->FindClass(DRAVLO_DIAL_EVENT_CLASS);
        EXPECT_EQ(vm.liveLocalRefs(std::this_thread::get_id()), 1u);
        binding.detach();
        EXPECT_FALSE(vm.isAttached());
    });
    eventThread.join();
    EXPECT_EQ(vm.attaches(), 1u);
    EXPECT_EQ(vm.detaches(), 1u);
    EXPECT_EQ(vm.liveLocalRefs(), 0u);
}

TEST_F(VmBindingTest, Attach_Refused_YieldsNull) {
    binding.bind(env);
    vm.failAttach();
    JNIEnv* eventEnv = env;
    std::thread([&] { eventEnv = binding.attach(); }).join();
    EXPECT_EQ(eventEnv, nullptr);
    EXPECT_EQ(vm.failedAttaches(), 1u);
    EXPECT_EQ(vm.attaches(), 0u);
}

TEST_F(VmBindingTest, AttachDetach_ManyThreadsAtOnce) {
    binding.bind(env);
    constexpr int kThreads = 6, kEvents = 40;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kEvents; ++i) {
                JNIEnv* eventEnv = binding.attach();
                ASSERT_NE(eventEnv, nullptr);
                JniLookup(eventEnv).fieldId(DRAVLO_KEY_EVENT_CLASS, "fButtonNumber", "I");
                binding.detach();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(vm.attaches(), std::size_t{kThreads * kEvents});
    EXPECT_EQ(vm.attachedNativeThreads(), 0u);
}

}  // namespace
