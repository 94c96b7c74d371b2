// spool_to_pdf against spool_to_png, each run as a program on the same mixed
// twelve-page job at 300 dpi, in wall-clock pages per second (the process
// start is part of what a user waits for); and how large the PDF is per
// page for each of the example files.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/bench_files.h"
#include "tests/spool_builder.h"

using namespace spooltest;
namespace fs = std::filesystem;

namespace {

const int mixedPages = 12;

// A folder of its own for the tools' output, removed when the run ends.
const std::string& outputFolder()
{
    static const std::string folder = [] {
        std::string path = uniqueTempPath() + ".d";
        fs::create_directories(path);
        return path;
    }();
    return folder;
}

bool runQuietly(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

void convertPages(benchmark::State& state, const std::string& command)
{
    static TempFile file(makeMixedSpoolFile());
    std::string fullCommand = command + " '" + file.path() + "'";
    int64_t pages = 0;
    for (auto _ : state) {
        if (!runQuietly(fullCommand)) {
            state.SkipWithError("the tool failed");
            break;
        }
        pages += mixedPages;
    }
    state.counters["pages_per_second"] = benchmark::Counter(static_cast<double>(pages), benchmark::Counter::kIsRate);
}

void spoolToPngPages(benchmark::State& state)
{
    convertPages(state, "'" SPOOL_TO_PNG_PATH "' --out '" + outputFolder() + "'");
}

void spoolToPdfPages(benchmark::State& state)
{
    std::string pdf = outputFolder() + "/mixed.pdf";
    convertPages(state, "'" SPOOL_TO_PDF_PATH "' -o '" + pdf + "'");
    std::error_code missing;
    state.counters["bytes_per_page"] = static_cast<double>(fs::file_size(pdf, missing)) / mixedPages;
}

struct Example {
    const char* name;
    int pages;
};

const Example examples[] = {{"1-memo", 2}, {"2-chart", 1}, {"3-fern", 1}};

// The PDF's bytes per page for one example file.
void pdfSizePerPage(benchmark::State& state)
{
    const Example& example = examples[state.range(0)];
    std::string pdf = outputFolder() + "/" + example.name + ".pdf";
    std::string command = "'" SPOOL_TO_PDF_PATH "' -o '" + pdf + "' '" EXAMPLES_DIR "/" + example.name + ".PDB'";
    for (auto _ : state) {
        if (!runQuietly(command)) {
            state.SkipWithError("spool_to_pdf failed");
            return;
        }
    }
    state.SetLabel(example.name);
    state.counters["bytes_per_page"] = static_cast<double>(fs::file_size(pdf)) / example.pages;
}

}  // namespace

BENCHMARK(spoolToPngPages)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(spoolToPdfPages)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(pdfSizePerPage)->DenseRange(0, 2)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::error_code ignored;
    fs::remove_all(outputFolder(), ignored);
    return 0;
}
