// The page of `jbbtool stats --html OUT`: one self-contained XHTML file
// (it parses as XML) with inline SVG charts and no scripts or outside
// resources: the map of the file (node, slack and free bytes along it),
// the fill of each tree level, the key lengths, and the entries over time
// by action.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "platform.h"
#include "stats.h"
#include "textout.h"

namespace jbbtool {

namespace {

const char* const kActionColors[kChartActionCount] = {"#8e44ad", "#3498db", "#e74c3c", "#2ecc71",
                                                      "#f39c12", "#16a085", "#d35400", "#7f8c8d"};

// Text for XML: markup characters escaped, and characters XML 1.0 cannot
// hold replaced by U+FFFD.
std::string xml(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        unsigned char c = (unsigned char)utf8[i];
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '"')
            out += "&quot;";
        else if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
            out += "\xEF\xBF\xBD";
        else if (c == 0xEF && i + 2 < utf8.size() && (unsigned char)utf8[i + 1] == 0xBF &&
                 ((unsigned char)utf8[i + 2] == 0xBE || (unsigned char)utf8[i + 2] == 0xBF)) {
            out += "\xEF\xBF\xBD";  // U+FFFE and U+FFFF
            i += 2;
        } else
            out += (char)c;
    }
    return out;
}

// A coordinate or size in the drawing.
std::string num(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", v);
    return buf;
}

// A count: a whole number, as every report gives it.
std::string count(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f", v);
    return buf;
}

// A stacked bar chart: columns[i][k] is the count of series k in column i,
// each segment with a <title> that gives its figures.  With `full` above
// zero every column stands for `full` (bytes of a stretch of the file) and
// the axis shows fractions of it, else the axis runs to the largest
// column's sum.
std::string barChart(const std::string& title, const std::vector<std::vector<double>>& columns,
                     const std::vector<std::string>& labels, const std::vector<std::string>& colors,
                     const std::vector<std::string>& seriesNames, double width, double height, double full = 0) {
    const double top = 10, bottom = 28, left = 50;
    const double plotH = height - top - bottom, plotW = width - left - 10;
    double most = 0;
    for (const auto& c : columns) {
        double sum = 0;
        for (double v : c) sum += v;
        most = std::max(most, sum);
    }
    const bool fractions = full > 0;
    const double scale = fractions ? full : most > 0 ? most : 1;
    std::string s = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(width) + "\" height=\"" + num(height) +
                    "\" role=\"img\"><title>" + xml(title) + "</title>";
    s += "<rect x=\"" + num(left) + "\" y=\"" + num(top) + "\" width=\"" + num(plotW) + "\" height=\"" + num(plotH) +
         "\" fill=\"#f4f4f4\"/>";
    const double colW = columns.empty() ? plotW : plotW / (double)columns.size();
    for (size_t i = 0; i < columns.size(); ++i) {
        double y = top + plotH;
        for (size_t k = 0; k < columns[i].size(); ++k) {
            double h = columns[i][k] / scale * plotH;
            if (h <= 0) continue;
            y -= h;
            std::string figures = labels[i] + ": " + seriesNames[k] + " " + count(columns[i][k]);
            if (fractions) figures += " (" + num(std::min(100.0, columns[i][k] / full * 100)) + "%)";
            s += "<rect x=\"" + num(left + (double)i * colW) + "\" y=\"" + num(y) + "\" width=\"" +
                 num(std::max(colW - (colW > 3 ? 1 : 0), 0.5)) + "\" height=\"" + num(h) + "\" fill=\"" + colors[k] +
                 "\"><title>" + xml(figures) + "</title></rect>";
        }
    }
    s += "<text x=\"4\" y=\"" + num(top + 10) + "\" font-size=\"10\">" +
         xml(fractions ? std::string("100%") : count(most)) + "</text>";
    s += "<text x=\"4\" y=\"" + num(top + plotH) + "\" font-size=\"10\">0</text>";
    if (!labels.empty()) {
        s += "<text x=\"" + num(left) + "\" y=\"" + num(height - 8) + "\" font-size=\"10\">" + xml(labels.front()) +
             "</text>";
        s += "<text x=\"" + num(left + plotW) + "\" y=\"" + num(height - 8) +
             "\" font-size=\"10\" text-anchor=\"end\">" + xml(labels.back()) + "</text>";
    }
    return s + "</svg>";
}

std::string legend(const std::vector<std::string>& names, const std::vector<std::string>& colors) {
    std::string s = "<p class=\"legend\">";
    for (size_t i = 0; i < names.size(); ++i)
        s += "<span><span class=\"key\" style=\"background:" + colors[i] + "\"></span>" + xml(names[i]) + "</span> ";
    return s + "</p>";
}

std::string dayText(int64_t day) {
    std::string t = utcText(day * 86400);
    return t.size() >= 10 && t[4] == '-' ? t.substr(0, 10) : t;
}

// Every page begins so; a file that does is one `stats --html` wrote.
const char kPageOpening[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n"
    "<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"en\"><head><meta charset=\"UTF-8\"/>"
    "<title>jbbtool stats</title>";

bool isStatsPage(const std::string& head) { return head.compare(0, sizeof kPageOpening - 1, kPageOpening) == 0; }

}  // namespace

const OutputKind kStatsPageKind = {"an HTML page", isStatsPage, sizeof kPageOpening - 1};

std::string statsPage(const DbImage& db, const Stats& st) {
    std::string h = kPageOpening;
    h += "<style>"
         "body{font-family:sans-serif;margin:1.5em;color:#222}h2{margin-top:1.4em}"
         "table{border-collapse:collapse}td,th{padding:2px 8px;text-align:right;border-bottom:1px solid #ddd}"
         "td.name{text-align:left}.legend span{margin-right:1em}"
         ".key{display:inline-block;width:10px;height:10px;margin-right:4px}"
         "</style></head><body>";
    h += "<h1>Journal database statistics</h1>";
    const ctrlRec& c = db.ctrl();
    const uint64_t slack = st.usedSlotBytes - std::min(st.usedSlotBytes, st.nodeBytes);
    h += "<p>" + xml(db.path()) + "</p>";
    // The figures, in the words of the text report.
    h += "<table><tr><th>field</th><th>value</th></tr>";
    const bool any = st.entries > 0;
    auto when = [&](int64_t t) { return any ? utcText(t) : std::string("-"); };
    const std::pair<const char*, std::string> fields[] = {
        {"magic", magicText(c.dbMagic)},
        {"version", std::to_string(c.dbVersMaj) + "." + std::to_string(c.dbVersMin)},
        {"state", codeText(stateWord(c.dbState), c.dbState)},
        {"rootOffset", std::to_string(c.rootOffset)},
        {"indexArraySize", std::to_string(c.indexArraySize)},
        {"currentIXCount", std::to_string(c.currentIXCount)},
        {"lastIndex", std::to_string(c.lastIndex)},
        {"lastNDRec", std::to_string(c.lastNDRec)},
        {"dbKeyLen", std::to_string(c.dbKeyLen)},
        {"dbDataLen", std::to_string(c.dbDataLen)},
        {"bytes", std::to_string(db.size())},
        {"slots", std::to_string(st.slots)},
        {"nodes", std::to_string(st.usedSlots)},
        {"free slots", std::to_string(st.freeSlots)},
        {"free bytes", std::to_string(st.freeBytes)},
        {"node bytes", std::to_string(st.nodeBytes)},
        {"slack bytes", std::to_string(slack)},
        {"depth", std::to_string(st.levels.size())},
        {"entries", std::to_string(st.entries)},
        {"directories", std::to_string(st.dirs.size())},
        {"inserted (UTC)", when(st.oldestInserted) + " to " + when(st.newestInserted)},
        {"object time (UTC)", when(st.oldestObject) + " to " + when(st.newestObject)},
    };
    for (const auto& f : fields)
        h += "<tr><td class=\"name\">" + std::string(f.first) + "</td><td>" + xml(f.second) + "</td></tr>";
    h += "</table>";
    h += "<h2>Entries by action and object type</h2><table><tr><th class=\"name\">action</th><th>entries</th></tr>";
    for (const auto& a : st.actions)
        h += "<tr><td class=\"name\">" + xml(codeText(actionText(a.first), a.first)) + "</td><td>" +
             std::to_string(a.second) + "</td></tr>";
    h += "</table><table><tr><th class=\"name\">object type</th><th>entries</th></tr>";
    for (const auto& t : st.types)
        h += "<tr><td class=\"name\">" + xml(codeText(objectTypeWord(t.first), t.first)) + "</td><td>" +
             std::to_string(t.second) + "</td></tr>";
    h += "</table>";

    // The file map, as fractions of each stretch.
    const double colBytes = db.size() > (int64_t)ctrlRecSize ? (double)(db.size() - ctrlRecSize) / kMapColumns : 1;
    std::vector<std::vector<double>> cols;
    std::vector<std::string> labels;
    for (size_t i = 0; i < st.mapUsed.size(); ++i) {
        cols.push_back({st.mapUsed[i], st.mapSlack[i], st.mapFree[i]});
        labels.push_back("offset " + std::to_string(ctrlRecSize + (int64_t)((double)i * colBytes)) + " to " +
                         std::to_string(ctrlRecSize + (int64_t)((double)(i + 1) * colBytes)));
    }
    const std::vector<std::string> mapColors = {"#2c7fb8", "#fdae61", "#7fc97f"};
    const std::vector<std::string> mapNames = {"node bytes", "slack", "free slots"};
    h += "<h2>Map of the file</h2>" + legend(mapNames, mapColors) +
         barChart("Node, slack and free bytes along the file", cols, labels, mapColors, mapNames, 840, 140, colBytes);

    // Fill per level.
    h += "<h2>Fill per level</h2>";
    for (size_t l = 0; l < st.levels.size(); ++l) {
        std::vector<std::vector<double>> lc;
        std::vector<std::string> ll;
        for (size_t k = 0; k < st.levels[l].size(); ++k) {
            lc.push_back({(double)st.levels[l][k]});
            ll.push_back(std::to_string(k) + " datums");
        }
        uint64_t n = 0;
        for (uint64_t v : st.levels[l]) n += v;
        h += "<p>Level " + std::to_string(l + 1) + ": " + countText(n, "node", "nodes") + "</p>" +
             barChart("Nodes of level " + std::to_string(l + 1) + " by datums", lc, ll, {"#2c7fb8"}, {"nodes"}, 420,
                      110);
    }

    // Key lengths.
    std::vector<std::vector<double>> kc;
    std::vector<std::string> kl;
    for (const auto& k : st.keyLengths) {
        kc.push_back({(double)k.second});
        kl.push_back(bucketName(k.first) + " units");
    }
    h += "<h2>Key lengths</h2>" + barChart("Entries by key length", kc, kl, {"#756bb1"}, {"entries"}, 840, 160);

    // Entries over time, by action: the days in at most 120 columns.
    std::vector<std::string> actionNames;
    for (size_t i = 0; i + 1 < kChartActionCount; ++i)
        actionNames.push_back(codeText(actionText(kChartActions[i]), kChartActions[i]));
    actionNames.push_back("other");
    const std::vector<std::string> actionColors(kActionColors, kActionColors + kChartActionCount);
    std::vector<std::vector<double>> tc;
    std::vector<std::string> tl;
    if (!st.perDay.empty()) {
        const int64_t first = st.perDay.begin()->first, last = st.perDay.rbegin()->first;
        const int64_t days = last - first + 1;
        const int64_t per = std::max<int64_t>(1, (days + 119) / 120);
        const size_t n = (size_t)((days + per - 1) / per);
        tc.assign(n, std::vector<double>(kChartActionCount, 0));
        for (size_t i = 0; i < n; ++i) {
            const int64_t day = first + (int64_t)i * per;
            tl.push_back(per == 1 ? dayText(day) + " UTC" : dayText(day) + " to " + dayText(day + per - 1) + " UTC");
        }
        for (const auto& d : st.perDay)
            for (size_t a = 0; a < kChartActionCount; ++a)
                tc[(size_t)((d.first - first) / per)][a] += (double)d.second[a];
    }
    h += "<h2>Entries over time by action (inserted, UTC)</h2>" + legend(actionNames, actionColors) +
         barChart("Entries inserted over time by action", tc, tl, actionColors, actionNames, 840, 200);

    h += "<h2>Directories with the most entries</h2><table><tr><th>entries</th><th class=\"name\">directory</th></tr>";
    for (const auto& d : st.topDirs)
        h += "<tr><td>" + std::to_string(d.second) + "</td><td class=\"name\">" + xml(toUtf8(d.first)) + "</td></tr>";
    h += "</table></body></html>\n";

    return h;
}

}  // namespace jbbtool
