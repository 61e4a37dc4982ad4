// How many threads this process has right now, as the system lists them.
#pragma once

namespace zvk::test {

int ThreadsInProcess();

// How long the list may still show a thread that has been joined: Linux
// takes it off a moment after pthread_join returns, Windows before the
// thread's handle is signalled.
int JoinedThreadListedMs();

}  // namespace zvk::test
