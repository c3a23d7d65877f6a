#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nimbara::server {

using Labels = std::vector<std::pair<std::string, std::string>>;

// A count that only grows. Adding is one relaxed atomic step: the hot path pays no lock and no
// ordering, and a scrape reads a value that is at most a few events behind.
class Counter
{
public:
    void add(std::uint64_t count = 1) { value.fetch_add(count, std::memory_order_relaxed); }
    std::uint64_t get() const { return value.load(std::memory_order_relaxed); }

private:
    std::atomic<std::uint64_t> value{0};
};

// Durations counted into fixed buckets (upper bounds in seconds), with their sum and count.
class Histogram
{
public:
    explicit Histogram(std::vector<double> bounds);

    void observe(std::chrono::nanoseconds duration);

    const std::vector<double> &bounds() const { return upperBounds; }
    // Per bucket, the last one being +Inf: the events in it alone (not yet cumulative).
    std::vector<std::uint64_t> bucketCounts() const;
    double sumSeconds() const;

    // Request latencies from a fraction of a millisecond (a cached answer) to the upstream time-out.
    static std::vector<double> latencyBounds();

private:
    std::vector<double> upperBounds;
    std::unique_ptr<std::atomic<std::uint64_t>[]> counts;
    std::atomic<std::uint64_t> sumNanoseconds{0};
};

// One line of a metric family: the name's suffix ("", "_bucket", "_sum", "_count"), labels, value.
struct Sample
{
    std::string suffix;
    Labels labels;
    double value = 0;
};

// The service's metrics as Prometheus reads them (text exposition format 0.0.4). The parts of the
// service keep their own counters; each family is a collector that reads them at scrape time, so
// that counting costs the hot path nothing beyond its atomic step. Several parts may add to one
// family (each with its own label values).
class Metrics
{
public:
    enum class Type { counter, gauge, histogram };
    using Collect = std::function<void(std::vector<Sample> &samples)>;

    void add(std::string name, std::string help, Type type, Collect collect);
    // Shorthands for one series read from a value at scrape time.
    void addCounter(std::string name, std::string help, Labels labels, std::function<double()> read);
    void addGauge(std::string name, std::string help, Labels labels, std::function<double()> read);

    // The whole exposition, families in the order first added.
    std::string text() const;

    static constexpr std::string_view contentType = "text/plain; version=0.0.4; charset=utf-8";

private:
    struct Family
    {
        std::string name;
        std::string help;
        Type type;
        std::vector<Collect> collectors;
    };

    mutable std::mutex mutex;
    std::vector<Family> families;
};

// The samples of one histogram series: cumulative buckets with "le", then sum and count.
void appendHistogram(std::vector<Sample> &samples, const Histogram &histogram, const Labels &labels);

// Adds a limit's refusals to the one family of them all, "nimbara_limit_refusals_total", labelled
// by limiter.
void addLimitRefusals(Metrics &metrics, std::string limiter, const Counter &refusals);

// A label value as the text format writes it between quotes.
std::string escapeLabelValue(std::string_view value);

} // namespace nimbara::server
