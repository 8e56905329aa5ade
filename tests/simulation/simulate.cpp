// The deterministic simulation of the manager's core: random operations
// from a seed, run over the fake system, with every rule that must always
// hold checked after each step. On a failure it prints the seed and the
// shortest sequence of operations it could find that still fails.
//
//   zelk_simulate [--seed N] [--steps N] [--shrink-seconds N] [--trace]
#include "scenario.h"
#include "world.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A scenario is one stretch of a run: long enough for reloads, restarts and
// their stops to meet, short enough to replay quickly while shrinking.
constexpr int kStretch = 2000;

struct Arguments {
    std::uint64_t seed = 0;
    bool seedGiven = false;
    long long steps = 20000;
    int shrinkSeconds = 120;
    bool trace = false;
};

bool ReadArguments(int argc, char** argv, Arguments* args) {
    for (int i = 1; i < argc; ++i) {
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (std::strcmp(argv[i], "--seed") == 0 && value != nullptr) {
            args->seed = std::strtoull(value, nullptr, 10);
            args->seedGiven = true;
        } else if (std::strcmp(argv[i], "--steps") == 0 && value != nullptr) {
            args->steps = std::atoll(value);
        } else if (std::strcmp(argv[i], "--trace") == 0) {
            args->trace = true;
            continue;
        } else if (std::strcmp(argv[i], "--shrink-seconds") == 0 && value != nullptr) {
            args->shrinkSeconds = std::atoi(value);
        } else {
            return false;
        }
        ++i;
    }
    return args->steps > 0;
}

// What a crashed run left on its standard error: the sanitizer's verdict
// and the first frames of its stack.
std::string CrashReport(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::string report;
    int frames = 0;
    while (std::getline(in, line) && frames < 4) {
        if (line.find("ERROR: ") != std::string::npos ||
            line.find("runtime error") != std::string::npos)
            report += line + "\n  ";
        else if (!report.empty() && line.find("    #") == 0 &&
                 line.find("/usr/include/") == std::string::npos && ++frames)
            report += line + "\n  ";
    }
    return report;
}

// Runs a scenario in a process of its own, so that every run starts from
// the same state and a crash (a sanitizer's report, say) is a failure like
// any other.
sim::Outcome RunApart(const sim::Scenario& scenario, bool trace = false) {
    auto* progress = static_cast<sim::Progress*>(::mmap(
        nullptr, sizeof(sim::Progress), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    *progress = sim::Progress{};
    int pipe[2];
    if (::pipe(pipe) != 0)
        std::abort();
    char errors[] = "/tmp/zelk-simulate-errors-XXXXXX";
    const int errorFile = ::mkstemp(errors);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipe[0]);
        if (!trace)
            ::dup2(errorFile, 2);
        const sim::Outcome outcome = sim::Run(scenario, trace, progress);
        std::ostringstream out;
        out << outcome.failed << '\n'
            << outcome.invariant << '\n'
            << outcome.detail << '\n'
            << outcome.step << '\n'
            << outcome.checks << '\n'
            << outcome.steps << '\n';
        const std::string text = out.str();
        if (::write(pipe[1], text.data(), text.size()) != static_cast<ssize_t>(text.size()))
            std::abort();
        ::_exit(0);
    }
    ::close(pipe[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipe[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(pipe[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    sim::Outcome outcome;
    std::istringstream in(text);
    std::string failed;
    if (std::getline(in, failed) && std::getline(in, outcome.invariant) &&
        std::getline(in, outcome.detail) &&
        (in >> outcome.step >> outcome.checks >> outcome.steps)) {
        outcome.failed = failed == "1";
    } else {
        // It crashed: the step it was at is the one that broke it.
        const std::string report = CrashReport(errors);
        const std::size_t kind = report.find("AddressSanitizer: ");
        outcome.failed = true;
        outcome.invariant = "the manager does not crash";
        if (kind != std::string::npos)
            outcome.invariant +=
                " (" + report.substr(kind + 18, report.find(' ', kind + 18) - kind - 18) + ")";
        outcome.detail = report.empty() ? "exit status " + std::to_string(status) : report;
        outcome.step = progress->steps;
        outcome.checks = progress->checks;
        outcome.steps = progress->steps;
    }
    ::close(errorFile);
    ::unlink(errors);
    ::munmap(progress, sizeof(sim::Progress));
    return outcome;
}

bool SameFailure(const sim::Outcome& a, const sim::Outcome& b) {
    return a.failed && b.failed && a.invariant == b.invariant;
}

// Cuts operations away while the same rule still breaks: whole halves
// first, then ever smaller pieces (delta debugging).
sim::Scenario Shrink(sim::Scenario scenario, const sim::Outcome& failure, int seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    scenario.ops.resize(static_cast<std::size_t>(failure.step));
    std::size_t pieces = 2;
    while (scenario.ops.size() >= 2 && std::chrono::steady_clock::now() < end) {
        const std::size_t size = scenario.ops.size();
        const std::size_t piece = (size + pieces - 1) / pieces;
        bool cut = false;
        for (std::size_t start = 0; start < size && std::chrono::steady_clock::now() < end;
             start += piece) {
            sim::Scenario candidate = scenario;
            candidate.ops.erase(candidate.ops.begin() + static_cast<std::ptrdiff_t>(start),
                                candidate.ops.begin() +
                                    static_cast<std::ptrdiff_t>(std::min(size, start + piece)));
            const sim::Outcome outcome = RunApart(candidate);
            if (SameFailure(outcome, failure)) {
                candidate.ops.resize(static_cast<std::size_t>(outcome.step));
                scenario = candidate;
                pieces = std::max<std::size_t>(pieces - 1, 2);
                cut = true;
                break;
            }
        }
        if (!cut) {
            if (pieces >= size)
                break;
            pieces = std::min(pieces * 2, size);
        }
    }
    return scenario;
}

void Report(const sim::Scenario& scenario, const sim::Outcome& failure, int shrinkSeconds,
            bool trace) {
    std::printf("FAILED: %s\n  %s\n  after step %d of seed %llu (zelk_simulate --seed %llu "
                "--steps %d)\n",
                failure.invariant.c_str(), failure.detail.c_str(), failure.step,
                static_cast<unsigned long long>(scenario.seed),
                static_cast<unsigned long long>(scenario.seed),
                static_cast<int>(scenario.ops.size()));
    const sim::Scenario shortest = Shrink(scenario, failure, shrinkSeconds);
    const sim::Outcome again = RunApart(shortest, trace);
    std::printf("The shortest sequence found (%zu steps) breaks it again: %s\n  %s\n",
                shortest.ops.size(), again.invariant.c_str(), again.detail.c_str());
    std::printf("zelkappmgr.ini at the start:\n%s", sim::ConfigText(shortest.initial).c_str());
    for (std::size_t i = 0; i < shortest.ops.size(); ++i)
        std::printf("%4zu. %s\n", i + 1, sim::Describe(shortest.ops[i]).c_str());
}

} // namespace

int main(int argc, char** argv) {
    Arguments args;
    if (!ReadArguments(argc, argv, &args)) {
        std::fprintf(stderr, "usage: zelk_simulate [--seed N] [--steps N] [--shrink-seconds N]\n");
        return 2;
    }
    if (!args.seedGiven)
        args.seed = std::random_device{}();
    // zelkappmgr.ini is written in a directory of the run's own.
    const std::filesystem::path directory =
        std::filesystem::temp_directory_path() /
        ("zelk-simulate-" + std::to_string(args.seed) + "-" + std::to_string(::getpid()));
    std::filesystem::create_directories(directory);
    std::filesystem::current_path(directory);

    long long steps = 0;
    std::uint64_t checks = 0;
    int status = 0;
    for (std::uint64_t seed = args.seed; steps < args.steps; ++seed) {
        const int stretch = static_cast<int>(std::min<long long>(kStretch, args.steps - steps));
        const sim::Scenario scenario = sim::DrawScenario(seed, stretch);
        const sim::Outcome outcome = RunApart(scenario);
        steps += outcome.steps;
        checks += outcome.checks;
        if (outcome.failed) {
            Report(scenario, outcome, args.shrinkSeconds, args.trace);
            status = 1;
            break;
        }
        if (outcome.steps == 0)
            break;
    }
    std::printf("%lld steps, %llu invariant checks, seed %llu\n", steps,
                static_cast<unsigned long long>(checks),
                static_cast<unsigned long long>(args.seed));
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    std::filesystem::remove_all(directory);
    return status;
}
