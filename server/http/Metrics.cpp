#include "http/Metrics.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>

namespace nimbara::server {

namespace {

std::string number(double value)
{
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value > 0 ? "+Inf" : "-Inf";
    char text[32];
    auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::general);
    return error == std::errc() ? std::string(text, end) : "NaN";
}

// The text format's escapes: a backslash and a line feed everywhere, a double quote in label values.
std::string escaped(std::string_view text, bool quoted)
{
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        if (c == '\\')
            result += "\\\\";
        else if (c == '\n')
            result += "\\n";
        else if (c == '"' && quoted)
            result += "\\\"";
        else
            result += c;
    }
    return result;
}

std::string_view typeName(Metrics::Type type)
{
    switch (type) {
    case Metrics::Type::counter:
        return "counter";
    case Metrics::Type::gauge:
        return "gauge";
    case Metrics::Type::histogram:
        return "histogram";
    }
    return "untyped";
}

} // namespace

Histogram::Histogram(std::vector<double> bounds)
    : upperBounds(std::move(bounds))
    , counts(std::make_unique<std::atomic<std::uint64_t>[]>(upperBounds.size() + 1))
{
    if (!std::is_sorted(upperBounds.begin(), upperBounds.end()))
        throw std::invalid_argument("histogram bounds must ascend");
}

void Histogram::observe(std::chrono::nanoseconds duration)
{
    const double seconds = std::chrono::duration<double>(duration).count();
    // "le": a duration on a bound belongs to that bound's bucket.
    const auto bucket =
        std::lower_bound(upperBounds.begin(), upperBounds.end(), seconds) - upperBounds.begin();
    counts[static_cast<size_t>(bucket)].fetch_add(1, std::memory_order_relaxed);
    sumNanoseconds.fetch_add(static_cast<std::uint64_t>(std::max<std::int64_t>(0, duration.count())),
                             std::memory_order_relaxed);
}

std::vector<std::uint64_t> Histogram::bucketCounts() const
{
    std::vector<std::uint64_t> result(upperBounds.size() + 1);
    for (size_t i = 0; i < result.size(); ++i)
        result[i] = counts[i].load(std::memory_order_relaxed);
    return result;
}

double Histogram::sumSeconds() const
{
    return static_cast<double>(sumNanoseconds.load(std::memory_order_relaxed)) / 1e9;
}

std::vector<double> Histogram::latencyBounds()
{
    return {0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10};
}

std::string escapeLabelValue(std::string_view value)
{
    return escaped(value, true);
}

void appendHistogram(std::vector<Sample> &samples, const Histogram &histogram, const Labels &labels)
{
    const auto counts = histogram.bucketCounts();
    std::uint64_t cumulative = 0;
    for (size_t i = 0; i < counts.size(); ++i) {
        cumulative += counts[i];
        Labels withBound = labels;
        withBound.emplace_back("le", i < histogram.bounds().size() ? number(histogram.bounds()[i]) : "+Inf");
        samples.push_back({"_bucket", std::move(withBound), static_cast<double>(cumulative)});
    }
    samples.push_back({"_sum", labels, histogram.sumSeconds()});
    samples.push_back({"_count", labels, static_cast<double>(cumulative)});
}

void Metrics::add(std::string name, std::string help, Type type, Collect collect)
{
    std::lock_guard lock(mutex);
    auto family =
        std::find_if(families.begin(), families.end(), [&](const Family &f) { return f.name == name; });
    if (family == families.end()) {
        families.push_back({std::move(name), std::move(help), type, {}});
        family = families.end() - 1;
    } else if (family->type != type) {
        throw std::logic_error("metric " + name + " added with two types");
    }
    family->collectors.push_back(std::move(collect));
}

void Metrics::addCounter(std::string name, std::string help, Labels labels, std::function<double()> read)
{
    add(std::move(name), std::move(help), Type::counter,
        [labels = std::move(labels), read = std::move(read)](std::vector<Sample> &samples) {
            samples.push_back({"", labels, read()});
        });
}

void Metrics::addGauge(std::string name, std::string help, Labels labels, std::function<double()> read)
{
    add(std::move(name), std::move(help), Type::gauge,
        [labels = std::move(labels), read = std::move(read)](std::vector<Sample> &samples) {
            samples.push_back({"", labels, read()});
        });
}

void addLimitRefusals(Metrics &metrics, std::string limiter, const Counter &refusals)
{
    metrics.addCounter(
        "nimbara_limit_refusals_total", "Requests and connections refused by a limit, by limit.",
        {{"limiter", std::move(limiter)}}, [&refusals] { return static_cast<double>(refusals.get()); });
}

std::string Metrics::text() const
{
    std::lock_guard lock(mutex);
    std::string out;
    std::vector<Sample> samples;
    for (const auto &family : families) {
        // Appended piece by piece: cheaper than temporaries, and GCC 12 at -O3 misreads those chains.
        out.append("# HELP ")
            .append(family.name)
            .append(" ")
            .append(escaped(family.help, false))
            .append("\n");
        out.append("# TYPE ").append(family.name).append(" ").append(typeName(family.type)).append("\n");
        samples.clear();
        for (const auto &collect : family.collectors)
            collect(samples);
        for (const auto &sample : samples) {
            out.append(family.name).append(sample.suffix);
            if (!sample.labels.empty()) {
                out += '{';
                for (size_t i = 0; i < sample.labels.size(); ++i) {
                    if (i > 0)
                        out += ',';
                    out.append(sample.labels[i].first).append("=\"");
                    out.append(escapeLabelValue(sample.labels[i].second)).append("\"");
                }
                out += '}';
            }
            out.append(" ").append(number(sample.value)).append("\n");
        }
    }
    return out;
}

} // namespace nimbara::server
