#include "SoakReport.h"

#include <algorithm>
#include <cstdio>
#include <functional>

namespace soak {

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// A figure, or "n/a" for one that was not reported, right-aligned in width characters.
std::string Cell(double value, const char* format, int width) {
    const std::string text = value < 0 ? std::string("n/a") : Format(format, value);
    return std::string(text.size() < static_cast<size_t>(width) ? width - text.size() : 0, ' ') + text;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Series {
    const char* name;
    std::function<double(const SoakSample&)> value; // < 0: not reported
    double scale;                                   // shown divided by this
    const char* unit;
    std::function<double(double baseline)> tolerance;
};

SeriesVerdict JudgeGrowth(const std::vector<SoakSample>& samples, const SoakLimits& limits,
                          const Series& series) {
    SeriesVerdict v;
    v.name = series.name;
    std::vector<double> after; // figures after the warm-up, in order
    for (const SoakSample& s : samples) {
        const double value = series.value(s);
        if (value < 0)
            continue;
        v.measured = true;
        if (s.minute > limits.warmupMinutes)
            after.push_back(value);
    }
    if (!v.measured) {
        v.text = std::string(series.name) + ": n/a (not reported here)";
        return v;
    }
    if (after.size() < 6) {
        v.text = std::string(series.name) + ": not judged (fewer than 6 minutes after the warm-up)";
        return v;
    }
    v.judged = true;
    v.baseline = Median(std::vector<double>(after.begin(), after.begin() + 3));
    v.end = Median(std::vector<double>(after.end() - 3, after.end()));
    v.tolerance = series.tolerance(v.baseline);
    v.holds = v.end - v.baseline <= v.tolerance;
    char text[256];
    std::snprintf(text, sizeof text, "%s: %.1f -> %.1f%s (%+.1f, tolerance %.1f): %s", series.name,
                  v.baseline / series.scale, v.end / series.scale, series.unit,
                  (v.end - v.baseline) / series.scale, v.tolerance / series.scale,
                  v.holds ? "holds" : "GROWS");
    v.text = text;
    return v;
}

SeriesVerdict JudgeRate(const std::vector<SoakSample>& samples, const SoakLimits& limits) {
    SeriesVerdict v;
    v.name = "client rate";
    std::vector<double> rates;
    int worstMinute = 0;
    double worst = 1e9;
    for (const SoakSample& s : samples) {
        if (s.clientFps < 0)
            continue;
        rates.push_back(s.clientFps);
        if (s.clientFps < worst) {
            worst = s.clientFps;
            worstMinute = s.minute;
        }
    }
    if (rates.empty()) {
        v.holds = false; // the client is the run's measure of the device: no figure is a failure
        v.text = "client rate: no figure in any minute: FAILS";
        return v;
    }
    v.measured = v.judged = true;
    v.baseline = Median(rates);
    v.end = worst;
    v.tolerance = limits.nominalFps * SoakLimits::kMinRateShare;
    v.holds = worst >= v.tolerance;
    char text[256];
    std::snprintf(text, sizeof text,
                  "client rate: median %.1f fps, lowest %.1f fps in minute %d (at least %.1f = %.0f%% of "
                  "%.0f): %s",
                  v.baseline, worst, worstMinute, v.tolerance, SoakLimits::kMinRateShare * 100,
                  limits.nominalFps, v.holds ? "holds" : "DROPS");
    v.text = text;
    return v;
}

// Every press makes a clip, but Zarvex gives up a press that no frame follows, so a stall may cost
// the press it overtook its clip; and the last press of the run may still be waiting for its clip
// when the run ends.
SeriesVerdict JudgePresses(const std::vector<SoakSample>& samples) {
    SeriesVerdict v;
    v.name = "clips";
    int presses = 0, stalled = 0, made = 0;
    for (const SoakSample& s : samples) {
        presses += s.presses;
        stalled += s.stallPresses;
        made += s.made;
    }
    v.measured = v.judged = true;
    v.baseline = presses;
    v.end = made;
    v.tolerance = stalled + 1;
    v.holds = presses > 0 && made >= presses - stalled - 1 && made <= presses;
    const char* outcome = v.holds          ? "holds"
                          : presses == 0   ? "NO PRESS"
                          : made > presses ? "MORE CLIPS THAN PRESSES"
                                           : "CLIPS MISSING";
    char text[160];
    std::snprintf(text, sizeof text, "clips: %d presses (%d overtaken by a stall) made %d clips: %s", presses,
                  stalled, made, outcome);
    v.text = text;
    return v;
}

} // namespace

SoakVerdict JudgeSoak(const std::vector<SoakSample>& samples, const SoakLimits& limits) {
    const auto memory = [&limits](double baseline) {
        return std::max(baseline * limits.memoryShare, static_cast<double>(limits.memoryFloorBytes));
    };
    const auto fixed = [](int n) { return [n](double) { return static_cast<double>(n); }; };
    const Series series[] = {
        {"private bytes", [](const SoakSample& s) { return double(s.privateBytes); }, kMiB, " MB", memory},
        {"handles", [](const SoakSample& s) { return double(s.handles); }, 1, "", fixed(limits.handles)},
        {"threads", [](const SoakSample& s) { return double(s.threads); }, 1, "", fixed(limits.threads)},
        {"GDI objects", [](const SoakSample& s) { return double(s.gdiObjects); }, 1, "",
         fixed(limits.guiObjects)},
        {"USER objects", [](const SoakSample& s) { return double(s.userObjects); }, 1, "",
         fixed(limits.guiObjects)},
        {"Linux RSS",
         [](const SoakSample& s) { return s.linuxRssKb < 0 ? -1.0 : double(s.linuxRssKb) * 1024; }, kMiB,
         " MB", memory},
        {"Linux threads", [](const SoakSample& s) { return double(s.linuxThreads); }, 1, "",
         fixed(limits.threads)},
    };
    SoakVerdict verdict;
    for (const Series& s : series)
        verdict.series.push_back(JudgeGrowth(samples, limits, s));
    verdict.series.push_back(JudgeRate(samples, limits));
    verdict.series.push_back(JudgePresses(samples));
    for (const SeriesVerdict& v : verdict.series)
        verdict.pass = verdict.pass && v.holds;
    return verdict;
}

std::string SoakTableHeading() {
    return " min clips press made del play  private MB handles threads   GDI  USER  RSS MB Lthr  client fps  "
           "load"
           "  notes";
}

std::string SoakTableRow(const SoakSample& s) {
    char head[64];
    std::snprintf(head, sizeof head, "%4d %5s %5d %4d %3d %4d", s.minute,
                  s.clips < 0 ? "n/a" : std::to_string(s.clips).c_str(), s.presses, s.made, s.deleted,
                  s.played);
    std::string row = head;
    row += Cell(s.privateBytes < 0 ? -1 : double(s.privateBytes) / kMiB, "%.1f", 12);
    row += Cell(s.handles, "%.0f", 8);
    row += Cell(s.threads, "%.0f", 8);
    row += Cell(s.gdiObjects, "%.0f", 6);
    row += Cell(s.userObjects, "%.0f", 6);
    row += Cell(s.linuxRssKb < 0 ? -1 : double(s.linuxRssKb) / 1024, "%.1f", 8);
    row += Cell(s.linuxThreads, "%.0f", 5);
    row += Cell(s.clientFps, "%.1f", 12);
    row += Cell(s.load, "%.2f", 6);
    if (!s.notes.empty())
        row += "  " + s.notes;
    return row;
}

std::string SoakVerdictText(const SoakVerdict& verdict) {
    std::string text;
    for (const SeriesVerdict& v : verdict.series)
        text += "  " + v.text + "\n";
    text += verdict.pass ? "PASS\n" : "FAIL\n";
    return text;
}

} // namespace soak
