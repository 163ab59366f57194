#include "Beep.h"

#include <mutex>
#include <utility>

namespace {

std::mutex BeepMutex;
std::function<void()> BeepHook;

} // namespace

void Beep()
{
    std::function<void()> hook;
    {
        const std::lock_guard lock(BeepMutex);
        hook = BeepHook;
    }
    if (hook)
        hook();
}

std::function<void()> SetBeepHook(std::function<void()> hook)
{
    const std::lock_guard lock(BeepMutex);
    return std::exchange(BeepHook, std::move(hook));
}
