#pragma once

#include <cstdlib>
#include <mutex>
#include <vector>

// The toolkit ends the program with exit() when its display goes away,
// without unwinding the window's objects. What must still be let go of then
// (a reader's thread, a device's settings and lock) is listed here while it
// lives, and an exit handler calls `letGo` on each object listed.
//
// The handler of a kind is registered when its first object is listed, and
// exit handlers run in the reverse order of their registration: a kind
// first listed later (a port's reader, after its device) is let go of
// first.
template<typename T, void (T::*letGo)() noexcept>
class ExitList
{
public:
    static void add(T *object)
    {
        // Made before the handler is registered, so it outlives the handler.
        List &list = instance();
        static const bool registered = std::atexit(&ExitList::letGoOfAll) == 0;
        static_cast<void>(registered);
        const std::lock_guard guard(list.mutex);
        list.objects.push_back(object);
    }

    static void remove(T *object) noexcept
    {
        List &list = instance();
        const std::lock_guard guard(list.mutex);
        std::erase(list.objects, object);
    }

private:
    struct List
    {
        std::mutex mutex;
        std::vector<T *> objects;
    };

    static List &instance()
    {
        static List list;
        return list;
    }

    static void letGoOfAll()
    {
        List &list = instance();
        const std::lock_guard guard(list.mutex);
        for (T *object : list.objects)
            (object->*letGo)();
    }
};
