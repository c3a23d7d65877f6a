#pragma once

// A strict reader of the Prometheus text exposition format (0.0.4), for tests that compare what a
// scrape says with what they sent. It refuses what a Prometheus server would refuse or misread: a
// sample before its family's TYPE, a bad name or escape, a series twice, histogram buckets that
// shrink or whose +Inf bucket is not the count.

#include <cmath>
#include <cstdlib>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace nimbara::server::test {

class PrometheusText
{
public:
    // Nothing, with the reason in error, when the text is not valid exposition text.
    static std::optional<PrometheusText> parse(const std::string &text, std::string &error)
    {
        PrometheusText result;
        std::istringstream lines(text);
        std::string line;
        int number = 0;
        auto fail = [&](const std::string &why) {
            error = "line " + std::to_string(number) + ": " + why + ": " + line;
            return std::nullopt;
        };
        static const std::regex help(R"(# HELP ([a-zA-Z_:][a-zA-Z0-9_:]*) (.*))");
        static const std::regex type(
            R"(# TYPE ([a-zA-Z_:][a-zA-Z0-9_:]*) (counter|gauge|histogram|summary|untyped))");
        static const std::regex sample(R"(([a-zA-Z_:][a-zA-Z0-9_:]*)(\{(.*)\})? (\S+))");
        static const std::regex label(R"(([a-zA-Z_][a-zA-Z0-9_]*)="((?:[^"\\\n]|\\[\\"n])*)\"(,|$))");
        std::smatch match;
        while (std::getline(lines, line)) {
            ++number;
            if (line.empty())
                continue;
            if (std::regex_match(line, match, type)) {
                if (!result.types.emplace(match[1], match[2]).second)
                    return fail("a second TYPE");
                continue;
            }
            if (std::regex_match(line, match, help) || line.starts_with("# "))
                continue;
            if (!std::regex_match(line, match, sample))
                return fail("not a sample");
            const std::string name = match[1];
            const auto family = result.familyOf(name);
            if (!family)
                return fail("a sample before its TYPE");
            // Labels, each name="value" with only \\, \" and \n escaped.
            std::string labels = match[3];
            std::map<std::string, std::string> parsed;
            for (std::smatch one; !labels.empty(); labels = one.suffix()) {
                if (!std::regex_search(labels, one, label, std::regex_constants::match_continuous))
                    return fail("a bad label");
                if (!parsed.emplace(one[1], unescape(one[2])).second)
                    return fail("a label twice");
            }
            const auto value = numberOf(match[4]);
            if (!value)
                return fail("a bad value");
            if (!result.samples.emplace(key(name, parsed), *value).second)
                return fail("a series twice");
            if (result.types[*family] == "counter" && (*value < 0 || std::isnan(*value)))
                return fail("a counter below 0");
            if (result.types[*family] == "histogram" && name.ends_with("_bucket")) {
                auto le = parsed.find("le");
                const auto bound = le == parsed.end() ? std::nullopt : numberOf(le->second);
                if (!bound)
                    return fail("a bucket without a bound");
                parsed.erase(le);
                result.buckets[{*family, parsed}][*bound] = *value;
            }
        }
        if (auto broken = result.brokenHistogram()) {
            error = *broken;
            return std::nullopt;
        }
        return result;
    }

    // The value of a series, written name{label="value",...} with the labels in name order; NaN when
    // there is none.
    double value(const std::string &series) const
    {
        auto found = samples.find(series);
        return found == samples.end() ? std::nan("") : found->second;
    }
    bool has(const std::string &series) const { return samples.contains(series); }
    std::string typeOf(const std::string &family) const
    {
        auto found = types.find(family);
        return found == types.end() ? std::string() : found->second;
    }

private:
    static std::string key(const std::string &name, const std::map<std::string, std::string> &labels)
    {
        std::string text = name;
        if (!labels.empty()) {
            text += '{';
            for (const auto &[label, value] : labels)
                text += (text.back() == '{' ? "" : ",") + label + "=\"" + value + "\"";
            text += '}';
        }
        return text;
    }

    static std::string unescape(const std::string &value)
    {
        std::string text;
        for (size_t i = 0; i < value.size(); ++i)
            text += value[i] == '\\' ? (value[++i] == 'n' ? '\n' : value[i]) : value[i];
        return text;
    }

    static std::optional<double> numberOf(const std::string &text)
    {
        if (text == "+Inf")
            return INFINITY;
        if (text == "-Inf")
            return -INFINITY;
        if (text == "NaN")
            return std::nan("");
        char *end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        return end == text.c_str() + text.size() && std::isfinite(value) ? std::optional(value)
                                                                         : std::nullopt;
    }

    // The family a sample's name belongs to: itself, or a histogram's for its suffixes.
    std::optional<std::string> familyOf(const std::string &name) const
    {
        if (types.contains(name) && types.at(name) != "histogram")
            return name;
        for (const char *suffix : {"_bucket", "_sum", "_count"}) {
            const std::string base = name.substr(0, name.size() - std::string(suffix).size());
            if (name.ends_with(suffix) && types.contains(base) && types.at(base) == "histogram")
                return base;
        }
        return std::nullopt;
    }

    // Buckets that never shrink as "le" grows, and a +Inf bucket equal to the count.
    std::optional<std::string> brokenHistogram() const
    {
        for (const auto &[series, byBound] : buckets) {
            double previous = 0;
            for (const auto &[bound, count] : byBound) {
                if (count < previous)
                    return "buckets shrink in " + series.first;
                previous = count;
            }
            const auto count = samples.find(key(series.first + "_count", series.second));
            if (!byBound.contains(INFINITY) || count == samples.end() ||
                count->second != byBound.at(INFINITY))
                return "no +Inf bucket equal to the count in " + series.first;
        }
        return std::nullopt;
    }

    std::map<std::string, std::string> types;
    std::map<std::string, double> samples;
    // A histogram series (family, labels without "le") -> its buckets by bound.
    std::map<std::pair<std::string, std::map<std::string, std::string>>, std::map<double, double>> buckets;
};

} // namespace nimbara::server::test
