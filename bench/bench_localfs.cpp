// Local copies against coreutils cp on one tmpfs: one 1 GiB file and a
// tree of 10,000 small files.
#include "localfs/lfs_operation.h"
#include "platform/questions.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

// A scratch folder on tmpfs (or $TMPDIR when /dev/shm is missing).
class Scratch {
public:
    Scratch() {
        std::string base = fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path();
        std::string pattern = base + "/qb-bench-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (::mkdtemp(buffer.data())) {
            root = buffer.data();
        }
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    std::string root;
};

void WriteFile(const std::string& path, std::size_t size) {
    std::ofstream out(path, std::ios::binary);
    std::string block(1 << 20, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<char>(i * 7);
    }
    while (size > 0) {
        std::size_t n = std::min(size, block.size());
        out.write(block.data(), static_cast<std::streamsize>(n));
        size -= n;
    }
}

bool Run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return false;
    }
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Runs a copy to the end without a dialog on screen.
class SilentDialog : public qb::ILFSDialog {
public:
    void PostFinished() override {}
    void PostDisplayChanged() override {}
    void PostShowError() override {}
    void PostAskReplace() override {}
};

bool QuillbeckCopy(const std::string& sourceFolder, const std::string& item, bool isFolder,
                   const std::string& destFolder) {
    qb::CLFSOperation op(qb::CLFSOperation::Kind::CopyMove);
    op.Data().m_fileSourceFolder.m_strPath = sourceFolder;
    op.Data().m_fileDestFolder.m_strPath = destFolder;
    op.Data().m_arrSource.Add(
        qb::CLFSFile(item, isFolder ? qb::CLFSFile::KIND_FOLDER : qb::CLFSFile::KIND_FILE));
    SilentDialog dialog;
    op.Data().SetVisible();
    op.Start(dialog);
    return op.Wait() == qb::IDOK;
}

enum class Tool { Quillbeck, Cp };

void BM_CopyLargeFile(benchmark::State& state) {
    const Tool tool = static_cast<Tool>(state.range(0));
    Scratch scratch;
    const std::string src = scratch.root + "/src";
    const std::string dst = scratch.root + "/dst";
    fs::create_directory(src);
    fs::create_directory(dst);
    const std::size_t size = std::size_t{1} << 30;
    WriteFile(src + "/big", size);
    // One untimed copy first, so that neither tool pays for the fresh source.
    Run({"cp", src + "/big", dst + "/big"});
    fs::remove(dst + "/big");
    for (auto _ : state) {
        bool ok = tool == Tool::Quillbeck ? QuillbeckCopy(src, src + "/big", false, dst)
                                          : Run({"cp", src + "/big", dst + "/big"});
        if (!ok) {
            state.SkipWithError("copy failed");
            break;
        }
        state.PauseTiming();
        fs::remove(dst + "/big");
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void BM_CopyTree(benchmark::State& state) {
    const Tool tool = static_cast<Tool>(state.range(0));
    Scratch scratch;
    const std::string src = scratch.root + "/src";
    const std::string dst = scratch.root + "/dst";
    fs::create_directories(src + "/tree");
    fs::create_directory(dst);
    for (int folder = 0; folder < 100; ++folder) {
        std::string path = src + "/tree/f" + std::to_string(folder);
        fs::create_directory(path);
        for (int file = 0; file < 100; ++file) {
            WriteFile(path + "/file" + std::to_string(file), 100 + 37 * file);
        }
    }
    for (auto _ : state) {
        bool ok = tool == Tool::Quillbeck ? QuillbeckCopy(src, src + "/tree", true, dst)
                                          : Run({"cp", "-r", src + "/tree", dst + "/tree"});
        if (!ok) {
            state.SkipWithError("copy failed");
            break;
        }
        state.PauseTiming();
        fs::remove_all(dst + "/tree");
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}

// Argument 0: Quillbeck, 1: cp.
BENCHMARK(BM_CopyLargeFile)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);
BENCHMARK(BM_CopyTree)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(10);

} // namespace
