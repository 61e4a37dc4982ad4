// How many threads this process has right now, as the system lists them.
#pragma once

namespace zvk::test {

int ThreadsInProcess();

}  // namespace zvk::test
