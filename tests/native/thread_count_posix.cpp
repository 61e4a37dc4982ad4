#include <dirent.h>

#include "tests/native/thread_count.h"

namespace zvk::test {

int ThreadsInProcess()
{
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks)
        return -1;
    int count = 0;
    while (const dirent* entry = readdir(tasks))
        if (entry->d_name[0] != '.')
            ++count;
    closedir(tasks);
    return count;
}

}  // namespace zvk::test
