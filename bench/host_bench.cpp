// Throughput of the portable logic over the fake machine: how fast the list
// driver reads lines that start nothing, and how fast the Netscape restore
// filters a large obj.conf. What the fake does (copying a file when it is
// opened, its map of files) is counted too; setting the fake up is not.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "platform/TextFile.h"
#include "tests/FakePlatform.h"
#include "uninstall/UninstallList.h"
#include "webserver/NetscapeConfig.h"

namespace {

const char kListPath[] = "C:\\Quorvan\\QvUninst.txt";
const char kConfigPath[] = "C:\\Netscape\\Server\\config\\OBJ~1.CON";
constexpr long kListLines = 1000000;
constexpr std::size_t kConfigBytes = 50 * 1000 * 1000;

// The fake hands out 7 bytes a read by default, to split CR LF in the tests;
// a real ReadFile gives the reader all it asks for.
constexpr std::size_t kReadSize = 1 << 16;

// Lines that fail every keyword test and only name the install directory:
// each is classified against the whole table and starts nothing.
std::string MakeList() {
    std::string list;
    char line[64];
    for (long i = 0; i < kListLines; ++i) {
        std::snprintf(line, sizeof line, "C:\\Quorvan\\Delvora Suite 4\\component%07ld\r\n", i);
        list += line;
    }
    return list;
}

// An obj.conf of ordinary directive lines with the gateway's block in the
// middle, as the installer leaves it.
std::string MakeConfig() {
    const std::string lines[] = {
        "Init fn=load-types mime-types=mime.types\r\n",
        "NameTrans fn=pfx2dir from=/ns-icons dir=\"C:/Netscape/Server/ns-icons\"\r\n",
        "PathCheck fn=unix-uri-clean\r\n",
        "ObjectType fn=type-by-extension\r\n",
        "Service method=(GET|HEAD) type=magnus-internal/imagemap fn=imagemap\r\n",
        "Error fn=send-error code=401 path=\"C:/Netscape/Server/docs/401.html\"\r\n",
    };
    const std::string block =
        "#### QUORVAN WEB GATEWAY EXTENSION -- BEGIN ####\r\n"
        "Init fn=load-modules shlib=\"C:/Quorvan/web/qvnsapi.dll\" funcs=qv-init,qv-service\r\n"
        "Service fn=qv-service type=magnus-internal/qv\r\n"
        "#### QUORVAN WEB GATEWAY EXTENSION -- END ####\r\n";
    std::string config;
    config.reserve(kConfigBytes + 256);
    for (std::size_t i = 0; config.size() < kConfigBytes; ++i) {
        if (i == 400000) config += block;
        config += lines[i % 6];
    }
    config.resize(kConfigBytes - 2);
    config += "\r\n";
    return config;
}

// A fresh fake machine holding one file.
std::unique_ptr<qvtest::FakePlatform> FakeHolding(const char* path, const std::string& bytes) {
    auto fake = std::make_unique<qvtest::FakePlatform>();
    fake->AddFile(path, bytes);
    fake->chunkSize = kReadSize;
    return fake;
}

void BM_RunUninstallList(benchmark::State& state) {
    const std::string list = MakeList();
    for (auto _ : state) {
        state.PauseTiming();
        auto fake = FakeHolding(kListPath, list);
        state.ResumeTiming();
        try {
            benchmark::DoNotOptimize(qv::RunUninstallList(fake->platform, kListPath, true));
        } catch (const qvtest::ProgramExit&) {
        }
        state.PauseTiming();
        fake.reset();  // freeing the fake's copy of the list is not the run's cost
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kListLines);
    state.counters["lines"] = kListLines;
}

void BM_RestoreNetscapeConfig(benchmark::State& state) {
    const std::string config = MakeConfig();
    std::size_t kept = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto fake = FakeHolding(kConfigPath, config);
        state.ResumeTiming();
        benchmark::DoNotOptimize(qv::RestoreNetscapeConfig(fake->platform, std::string(kConfigPath) + "\n"));
        state.PauseTiming();
        kept = fake->files[kConfigPath].size();
        fake.reset();
        state.ResumeTiming();
    }
    // A restore that lost the file or kept the block would make the figure meaningless.
    if (kept == 0 || kept >= config.size()) state.SkipWithError("the restore did not take the block out");
    state.SetBytesProcessed(state.iterations() * static_cast<long long>(config.size()));
    state.counters["bytes"] = static_cast<double>(config.size());
}

// Side by side with the driver: the same list read piece by piece through
// the same reader and fake, classifying nothing.
void BM_ReadListOnly(benchmark::State& state) {
    const std::string list = MakeList();
    for (auto _ : state) {
        state.PauseTiming();
        auto fake = FakeHolding(kListPath, list);
        state.ResumeTiming();
        qv::TextModeReader reader(fake->platform.files.OpenForReading(kListPath));
        std::string piece;
        long pieces = 0;
        while (reader.ReadPiece(piece, qv::kListLineBuffer)) ++pieces;
        benchmark::DoNotOptimize(pieces);
        reader.Close();
        state.PauseTiming();
        if (pieces != kListLines) state.SkipWithError("the list did not read as a million lines");
        fake.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kListLines);
}

// Side by side with the restore, which reads and writes the file twice
// (into the temporary file, then back): two plain copies through the same
// reader, writer and fake, looking for no marker.
void BM_CopyTwiceOnly(benchmark::State& state) {
    const std::string config = MakeConfig();
    const std::string tempPath = std::string(kConfigPath) + ".tmp";
    for (auto _ : state) {
        state.PauseTiming();
        auto fake = FakeHolding(kConfigPath, config);
        state.ResumeTiming();
        for (const auto& [from, to] : {std::pair{std::string(kConfigPath), tempPath},
                                       std::pair{tempPath, std::string(kConfigPath)}}) {
            qv::TextModeReader reader(fake->platform.files.OpenForReading(from), qv::CtrlZ::IsText);
            qv::TextModeWriter writer(fake->platform.files.OpenForWriting(to));
            std::string piece;
            while (reader.ReadPiece(piece, 200)) writer.Write(piece);
            reader.Close();
            writer.Close();
        }
        state.PauseTiming();
        if (fake->files[kConfigPath].size() != config.size()) state.SkipWithError("the copy lost bytes");
        fake.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<long long>(config.size()));
}

}  // namespace

BENCHMARK(BM_RunUninstallList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadListOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RestoreNetscapeConfig)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyTwiceOnly)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
