// LoadCatalogue over catalogue files on disk, beside plain read(2) of the
// same bytes: the loader's cost per entry against the cost of only
// fetching the bytes from the kernel.
//
//   load_catalogue_bench [benchmark flags] DIRECTORY
//
// DIRECTORY holds "1.zvd", "2.zvd" and "3.zvd" (bench/run writes them).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <benchmark/benchmark.h>

#include "app/catalogue.h"

namespace {

const char* const fileNames[3] = {"1.zvd", "2.zvd", "3.zvd"};
int entries = 0;  // lines of "3.zvd", as the first load found them

void CountPerEntry(benchmark::State& state) {
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * entries);
  state.counters["per_entry"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * entries,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void LoadCatalogueFiles(benchmark::State& state) {
  for (auto _ : state) {
    LoadCatalogue();
    benchmark::DoNotOptimize(catalogue.nextIndex);
  }
  if (catalogue.nextIndex - 1 != entries) state.SkipWithError("entries differ");
  CountPerEntry(state);
}

// The bytes of the three files through read(2), `chunk` bytes a call.
void ReadFiles(benchmark::State& state) {
  static char buffer[1 << 16];
  std::size_t chunk = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    for (const char* name : fileNames) {
      int fd = open(name, O_RDONLY | O_CLOEXEC);
      if (fd < 0) {
        state.SkipWithError("open failed");
        return;
      }
      while (read(fd, buffer, chunk) > 0) benchmark::ClobberMemory();
      close(fd);
    }
  }
  CountPerEntry(state);
}

}  // namespace

BENCHMARK(LoadCatalogueFiles);
// 256 bytes a call, as the loader's stream refills; and whole files at once.
BENCHMARK(ReadFiles)->Arg(256)->Arg(1 << 16);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (argc != 2 || chdir(argv[1]) != 0) {
    fprintf(stderr, "usage: load_catalogue_bench [benchmark flags] DIRECTORY\n");
    return 2;
  }
  LoadCatalogue();
  entries = catalogue.nextIndex - 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
