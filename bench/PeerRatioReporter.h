// A console reporter that, after the usual table, prints ours / peer ratios
// of wall and CPU time for benchmarks named "<case>/ours" and "<case>/<peer>"
// (any other second part is a variant of ours and gets its own line). With
// repetitions it compares medians, otherwise the single runs. Registration
// order gives the order of the lines.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace bench {

class PeerRatioReporter : public benchmark::ConsoleReporter {
public:
    explicit PeerRatioReporter(std::string peer)
        : benchmark::ConsoleReporter(OO_Tabular), peer_(std::move(peer)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        benchmark::ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.error_occurred || !(single || median)) continue;
            anyMedian_ = anyMedian_ || median;
            const std::string& name = run.run_name.function_name;
            size_t slash = name.rfind('/');
            if (slash == std::string::npos) continue;
            std::string which = name.substr(0, slash), side = name.substr(slash + 1);
            if (!times_.count(which)) order_.push_back(which);
            times_[which][side] = {toSeconds(run.GetAdjustedRealTime(), run.time_unit),
                                   toSeconds(run.GetAdjustedCPUTime(), run.time_unit)};
        }
    }

    void Finalize() override {
        std::FILE* out = stdout;
        std::fflush(out);
        std::fprintf(out, "\nours / %s (%s; above 1 is slower)\n", peer_.c_str(),
                     anyMedian_ ? "medians of the repetitions" : "single runs");
        std::fprintf(out, "%-36s %8s %8s\n", "case", "wall", "CPU");
        for (const std::string& which : order_) {
            auto& sides = times_[which];
            auto peer = sides.find(peer_);
            if (peer == sides.end()) continue;
            for (auto& [side, t] : sides) {
                if (side == peer_) continue;
                std::string label = side == "ours" ? which : which + " (" + side + ")";
                std::fprintf(out, "%-36s %8.2f %8.2f\n", label.c_str(), t.wall / peer->second.wall,
                             t.cpu / peer->second.cpu);
            }
        }
    }

private:
    struct Times {
        double wall = 0, cpu = 0;
    };
    static double toSeconds(double value, benchmark::TimeUnit unit) {
        switch (unit) {
            case benchmark::kNanosecond: return value * 1e-9;
            case benchmark::kMicrosecond: return value * 1e-6;
            case benchmark::kMillisecond: return value * 1e-3;
            default: return value;
        }
    }

    std::string peer_;
    std::vector<std::string> order_;
    std::map<std::string, std::map<std::string, Times>> times_;
    bool anyMedian_ = false;
};

}  // namespace bench
