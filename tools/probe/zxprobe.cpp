// zxprobe: drives another program's windows from outside, as a user would, for the run script,
// the scripted tour, the soak tool and the tests.
//
//   zxprobe <verb> <window> [arguments...]
//
// <window> is a top-level window's title, exactly ("Zarvex"), or a title's beginning followed by
// '*' ("ZarvexViewer*"); a visible window is preferred. <id> is a control id (app/resource.h),
// found among all the window's descendants. Time-outs are in milliseconds.
//
// Windows
//   wait <window> [timeout=30000]         until such a window is visible
//   close <window>                        WM_CLOSE, then wait (10 s) until the window is gone
//   snapshot <window> <path>              ask a ZarvexViewer window to save the frame it shows as
//                                         a 24-bit BMP (WM_COPYDATA, tools/viewer/ViewerProtocol.h)
// Controls (a control must be visible and enabled to be used, as for a user)
//   click <window> <id>                   press a button: BM_CLICK, posted, so a dialog it opens
//                                         does not hold the probe; check boxes toggle as clicked
//   slide <window> <id> <position>        drag a track bar's thumb there and let go: TBM_SETPOS,
//                                         then WM_HSCROLL (WM_VSCROLL for TBS_VERT) to the dialog
//                                         with TB_THUMBTRACK, TB_THUMBPOSITION and TB_ENDTRACK,
//                                         each sent, so the dialog has handled them on return
//   select <window> <id> <index>          combo box: CB_SETCURSEL, then CBN_SELCHANGE (sent);
//                                         list view: that item alone selected and focused (the
//                                         list notifies LVN_ITEMCHANGED itself)
//   dblclick <window> <id> <index>        double-click a list view item: the mouse messages of a
//                                         real double-click at the item's centre, posted to the
//                                         list, which selects it and sends NM_DBLCLK to its dialog
// Reading (printed as one UTF-8 line)
//   text <window> <id> [index]            the control's text, or a combo box or list view item's
//   count <window> <id>                   the items of a combo box or list view
//   selected <window> <id>                the selected item's index, or -1
// Waiting
//   wait-enabled <window> <id> <0|1> [timeout=10000]   until the control is disabled or enabled
//   wait-text <window> <id> <text> [timeout=10000]     until the control's text is exactly text
//   wait-count <window> <id> <n> [timeout=10000]       until a combo box or list view has n items
// Common dialogs of the window's program (printed: the dialog's title)
//   save-as <window> <path> [timeout=10000]
//                                         waits for its file dialog, types path into the file name
//                                         field, presses Save and waits until the dialog is gone
//   confirm <window> [timeout=10000]      waits for any other dialog box (the compressor chooser),
//                                         presses OK (IDOK) and waits until it is gone
//
// Exit code 0: done; 1: not done, with the reason on the error output; 2: a bad command line.
// Lists and list views of another process are read through memory placed in that process, so the
// probe and the program must both be 64-bit (or both 32-bit).
#include <windows.h>

#include <string>

#include "CommandLine.h"
#include "ProbeVerb.h"
#include "Utf8.h"

namespace {

using namespace probe;

struct Verb {
    const wchar_t* name;
    size_t minArgs; // after the verb
    size_t maxArgs;
    VerbFunction run;
};

const Verb kVerbs[] = {
    {L"wait", 1, 2, VerbWait},
    {L"close", 1, 1, VerbClose},
    {L"snapshot", 2, 2, VerbSnapshot},
    {L"click", 2, 2, VerbClick},
    {L"slide", 3, 3, VerbSlide},
    {L"select", 3, 3, VerbSelect},
    {L"dblclick", 3, 3, VerbDoubleClick},
    {L"text", 2, 3, VerbText},
    {L"count", 2, 2, VerbCount},
    {L"selected", 2, 2, VerbSelected},
    {L"wait-enabled", 3, 4, VerbWaitEnabled},
    {L"wait-text", 3, 4, VerbWaitText},
    {L"wait-count", 3, 4, VerbWaitCount},
    {L"save-as", 2, 3, VerbSaveAs},
    {L"confirm", 1, 2, VerbConfirm},
};

void WriteUtf8(DWORD stream, const std::wstring& text) {
    const HANDLE handle = GetStdHandle(stream);
    if (!handle || handle == INVALID_HANDLE_VALUE)
        return;
    const std::string bytes = win::Utf8(text) + '\n';
    DWORD written = 0;
    (void)WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                    nullptr); // no one to tell
}

int Usage() {
    WriteUtf8(STD_ERROR_HANDLE,
              L"usage: zxprobe wait|close|snapshot|click|slide|select|dblclick|text|count|selected|\n"
              L"               wait-enabled|wait-text|wait-count|save-as|confirm <window> [arguments...]\n"
              L"(the verbs and their arguments are listed at the top of tools/probe/zxprobe.cpp)");
    return 2;
}

int Run() {
    // Wide arguments: titles and control texts are Japanese, which the narrow argv would lose.
    const win::CommandLineArgs argv;
    VerbArgs words;
    for (int i = 1; i < argv.Count(); ++i)
        words.emplace_back(argv[i]);
    if (words.empty())
        return Usage();
    const std::wstring name = words.front();
    words.erase(words.begin());
    for (const Verb& verb : kVerbs) {
        if (name != verb.name)
            continue;
        if (words.size() < verb.minArgs || words.size() > verb.maxArgs)
            return Usage();
        std::wstring out, why;
        if (!verb.run(words, &out, &why)) {
            WriteUtf8(STD_ERROR_HANDLE, L"zxprobe " + name + L": " + why);
            return 1;
        }
        if (!out.empty() || name == L"text")
            WriteUtf8(STD_OUTPUT_HANDLE, out);
        return 0;
    }
    return Usage();
}

} // namespace

int main() {
    try {
        return Run();
    } catch (...) {
        WriteUtf8(STD_ERROR_HANDLE, L"zxprobe: out of memory");
        return 1;
    }
}
