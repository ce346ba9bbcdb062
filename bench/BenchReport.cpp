#include "BenchReport.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

double BenchReport::now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double BenchReport::rate(const std::function<void()>& step, double seconds, int batch)
{
    long long calls = 0;
    double start = now();
    double elapsed = 0;
    do {
        for (int i = 0; i < batch; ++i)
            step();
        calls += batch;
        elapsed = now() - start;
    } while (elapsed < seconds);
    return static_cast<double>(calls) / elapsed;
}

double BenchReport::median(std::vector<double>& values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

namespace {

std::string withUnit(double value, const std::string& unit)
{
    char text[64];
    if (value >= 1e6)
        snprintf(text, sizeof(text), "%.3g M %s", value / 1e6, unit.c_str());
    else if (value >= 1e4)
        snprintf(text, sizeof(text), "%.3g k %s", value / 1e3, unit.c_str());
    else
        snprintf(text, sizeof(text), "%.4g %s", value, unit.c_str());
    return text;
}

void print(const std::string& name, double figure, const std::string& reference, double referenceFigure,
           const std::string& unit, double ratio)
{
    printf("%-56s %14s   reference (%s) %14s   ratio %.*fx\n", name.c_str(), withUnit(figure, unit).c_str(),
           reference.c_str(), withUnit(referenceFigure, unit).c_str(), ratio < 100 ? 2 : 0, ratio);
    // The same row for tools/bench's closing table, which takes these lines out of the output.
    printf("TABLE|%s|%s|%s|%s|%.2fx|lower\n", name.c_str(), withUnit(figure, unit).c_str(), reference.c_str(),
           withUnit(referenceFigure, unit).c_str(), ratio);
    fflush(stdout);
}

} // namespace

void BenchReport::printRate(const std::string& name, double figure, const std::string& reference,
                            double referenceFigure, const std::string& unit)
{
    print(name, figure, reference, referenceFigure, unit, figure > 0 ? referenceFigure / figure : 0);
}

void BenchReport::printTime(const std::string& name, double figure, const std::string& reference,
                            double referenceFigure, const std::string& unit)
{
    print(name, figure, reference, referenceFigure, unit, referenceFigure > 0 ? figure / referenceFigure : 0);
}

void BenchReport::keep(const void* data)
{
    asm volatile("" : : "r"(data) : "memory");
}
