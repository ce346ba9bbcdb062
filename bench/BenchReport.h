#pragma once
// Timing and the one-line report of a benchmark: its figure, the reference measured in the
// same run, and how many times slower the figure is.
#include <functional>
#include <string>
#include <vector>

class BenchReport {
public:
    // Seconds on a monotonic clock.
    static double now();
    // Calls step repeatedly, in batches of batch calls, for about seconds; calls per second.
    static double rate(const std::function<void()>& step, double seconds, int batch);
    // The median of the values (which it sorts).
    static double median(std::vector<double>& values);
    // "<name>: <figure> <unit>, reference <what> <reference> <unit>, ratio <x>"; higher is
    // better for rates, so the ratio is reference / figure.
    static void printRate(const std::string& name, double figure, const std::string& reference,
                          double referenceFigure, const std::string& unit);
    // The same for times, where lower is better: the ratio is figure / reference.
    static void printTime(const std::string& name, double figure, const std::string& reference,
                          double referenceFigure, const std::string& unit);
    // Keeps the compiler from dropping work whose result nobody reads.
    static void keep(const void* data);
};
