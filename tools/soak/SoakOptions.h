// The soak tool's command line.
//
//   --minutes <n>         how long to run (default 60)
//   --press-every <s>     a capture press this often (default 20)
//   --keep <n>            clips kept: the oldest beyond these is deleted (default 5)
//   --play-every <n>      every n-th new clip is played back (default 3; 0: never)
//   --stall-every <m>     stall the test camera every m minutes (default 7; 0: never)
//   --stall-seconds <s>   for this long (default 15)
//   --restart-every <m>   kill the client and start it again every m minutes (default 11; 0: never)
//   --size <w>x<h>        the size the client asks ZarvexDevice for (default 320x240); Zarvex's
//                         ring, and so every clip, takes this size
//   --warmup <m>          minutes before the figures count for the verdict (default 4)
#pragma once

#include <windows.h>

#include <string>

namespace soak {

struct SoakOptions {
    int minutes = 60;
    int pressEverySeconds = 20;
    int keepClips = 5;
    int playEvery = 3;
    int stallEveryMinutes = 7;
    int stallSeconds = 15;
    int restartEveryMinutes = 11;
    SIZE clientSize = {320, 240};
    int warmupMinutes = 4;
};

// Reads the process's command line. False, with the reason in *pError, for anything it does not
// understand.
bool ParseSoakOptions(SoakOptions* pOptions, std::wstring* pError);

const wchar_t* SoakUsage();

} // namespace soak
