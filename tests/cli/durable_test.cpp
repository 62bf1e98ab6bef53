// Batches as a user runs them on many files: results put in place a group at
// a time (never a partial file under a final name, even after kill -9), the
// order of syncs and renames, read-only targets, the progress line and
// tables that stay valid JSON whatever the file names.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "cli_images.h"
#include "cli_support.h"

namespace kavel::clitest {
namespace {

class DurableTest : public CliTest {
protected:
    // count bitmaps of their own content; gives their names.
    std::vector<std::string> Inputs(int count) {
        std::vector<std::string> names;
        fs::create_directories(Path("in"));
        for (int i = 0; i < count; ++i) {
            names.push_back(P("in/" + std::to_string(i) + ".bmp"));
            images_.push_back(RandomImage(3 + i % 5, 4 + i % 3, static_cast<unsigned>(i)));
            WriteBytes(names.back(), BitmapBytes(images_.back()));
        }
        return names;
    }
    // What treat with kWhole writes for input i.
    Bytes Expected(std::size_t i) const {
        const Image& image = images_[i];
        return BitmapBytes({image.Lines, image.Columns, ExpectedTreatment(image, kWhole)});
    }
    static std::vector<std::string> TreatInto(std::vector<std::string> words, const std::string& folder) {
        words.insert(words.begin(), "treat");
        for (const auto& word : std::initializer_list<std::string>{"--out-dir", folder, "-q"}) {
            words.push_back(word);
        }
        const auto p = TreatWords(kWhole);
        words.insert(words.end(), p.begin(), p.end());
        return words;
    }

    static inline const Parameters kWhole{"whole", 60, 180, 255, 0, 9};
    std::vector<Image> images_;
};

pid_t Start(const std::vector<std::string>& words) {
    std::vector<std::string> all{KAVEL_CLI_PATH};
    all.insert(all.end(), words.begin(), words.end());
    std::vector<char*> argv;
    for (auto& word : all) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return child;
}

// The number of results under their final names in folder, each checked whole.
std::size_t CheckFinals(const fs::path& folder, const std::function<Bytes(std::size_t)>& expected) {
    std::size_t finals = 0;
    std::error_code none;  // killed before the folder was made
    for (const auto& entry : fs::directory_iterator(folder, none)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(".kavel-")) {
            continue;  // a temporary, removed by the next run into the folder
        }
        ++finals;
        EXPECT_EQ(ReadBytes(entry.path()), expected(std::stoul(name))) << name;
    }
    return finals;
}

TEST_F(DurableTest, KillAtAnyMomentLeavesOnlyWholeResults) {
    const auto inputs = Inputs(1000);
    const auto words = TreatInto(inputs, P("out"));
    const auto expected = [this](std::size_t i) { return Expected(i); };
    // At fixed moments from the start, and as soon as the first results are
    // in place (polling the folder), so that some kills land mid-run.
    std::size_t partial = 0;
    for (int attempt = 0; attempt < 12; ++attempt) {
        fs::remove_all(Path("out"));
        const pid_t child = Start(words);
        if (attempt < 6) {
            std::this_thread::sleep_for(std::chrono::milliseconds(attempt * attempt * 4));
        } else {
            // Results under their final names, temporaries left out.
            const auto finals = [this] {
                std::error_code none;
                std::size_t count = 0;
                for (const auto& entry : fs::directory_iterator(Path("out"), none)) {
                    count += entry.path().filename().string().starts_with(".kavel-") ? 0 : 1;
                }
                return count;
            };
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (std::chrono::steady_clock::now() < until &&
                   finals() < static_cast<std::size_t>(attempt - 5) * 64) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        SCOPED_TRACE("attempt " + std::to_string(attempt));
        const std::size_t finals = CheckFinals(Path("out"), expected);
        partial += finals > 0 && finals < inputs.size() ? 1 : 0;
    }
    // The folder is usable afterwards: a full run leaves every result and no temporary.
    fs::remove_all(Path("out"));
    ASSERT_EQ(Run(TreatInto(inputs, P("out"))).ExitCode, 0);
    EXPECT_EQ(CheckFinals(Path("out"), expected), inputs.size());
    EXPECT_EQ(static_cast<std::size_t>(
                  std::distance(fs::directory_iterator(Path("out")), fs::directory_iterator())),
              inputs.size());
    EXPECT_GT(partial, 0u) << "no kill landed in the middle of a run";
}

// The group's order: its results are synced (syncfs) before the first of
// them is renamed into place, and the folder is synced after the last.
TEST_F(DurableTest, GroupIsSyncedBeforeItsRenamesAndTheFolderAfter) {
    if (std::system("strace -V >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "strace is not installed";
    }
    const auto inputs = Inputs(150);
    auto words = TreatInto(inputs, P("out"));
    // LeakSanitizer cannot run under ptrace; the trace is what is checked here.
    std::string command =
        "ASAN_OPTIONS=detect_leaks=0 strace -f -qq -e trace=syncfs,fsync,rename,renameat2 -o " + P("trace");
    command += " " KAVEL_CLI_PATH;
    for (const auto& word : words) {
        command += " '" + word + "'";
    }
    ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0);
    std::vector<char> calls;  // S syncfs, R rename, F fsync
    for (const auto& line : SplitLines(ReadText(Path("trace")))) {
        const auto call = line.find_first_not_of("0123456789 ");
        if (call == std::string::npos) {
            continue;
        }
        const std::string name = line.substr(call, line.find('(', call) - call);
        calls.push_back(name == "syncfs" ? 'S' : name == "fsync" ? 'F' : 'R');
    }
    // Three groups of up to 64: each S, its renames, then F for the folder.
    std::string order(calls.begin(), calls.end());
    std::string groups;
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (i == 0 || order[i] != order[i - 1]) {
            groups += order[i];
        }
    }
    EXPECT_EQ(groups.find_first_not_of("SRF"), std::string::npos);
    EXPECT_EQ(groups.rfind("SRF", 0), 0u) << order;
    EXPECT_EQ(std::count(order.begin(), order.end(), 'R'), 150);
    EXPECT_EQ(groups.find("RS"), std::string::npos)
        << "a rename not followed by the folder's sync: " << order;
    EXPECT_LE(std::count(order.begin(), order.end(), 'F'), 6) << "no per-file sync in a group: " << order;
}

TEST_F(DurableTest, ReadOnlyTargetsAreKeptUnlessForced) {
    const auto inputs = Inputs(2);
    fs::create_directories(Path("out"));
    WriteText(Path("out/0.bmp"), "kept");
    fs::permissions(Path("out/0.bmp"),
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const RunResult kept = Run(TreatInto(inputs, P("out")));
    EXPECT_EQ(kept.ExitCode, 1);
    EXPECT_NE(kept.Err.find(P("out/0.bmp") + " is read-only (mode 444); give --force to replace it"),
              std::string::npos)
        << kept.Err;
    EXPECT_EQ(ReadText(Path("out/0.bmp")), "kept");
    EXPECT_EQ(ReadBytes(Path("out/1.bmp")), Expected(1));

    auto words = TreatInto(inputs, P("out"));
    words.push_back("--force");
    ASSERT_EQ(Run(words).ExitCode, 0);
    EXPECT_EQ(ReadBytes(Path("out/0.bmp")), Expected(0));
    // The replaced file keeps its mode, as every save does.
    EXPECT_EQ(fs::status(Path("out/0.bmp")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

    // A single output and suggest's pictures are kept the same way.
    WriteText(Path("one.bmp"), "kept");
    fs::permissions(Path("one.bmp"), fs::perms::owner_read);
    const RunResult single = Run({"convert", inputs[0], P("one.bmp")});
    EXPECT_EQ(single.ExitCode, 1);
    EXPECT_NE(single.Err.find("(mode 400)"), std::string::npos) << single.Err;
    EXPECT_EQ(Run({"convert", inputs[0], P("one.bmp"), "--force"}).ExitCode, 0);
    EXPECT_EQ(ReadBytes(Path("one.bmp")), BitmapBytes(images_[0]));
}

TEST_F(DurableTest, ProgressLineShowsRateAndTimeLeftOnATerminal) {
    const auto inputs = Inputs(40);
    RunOptions terminal;
    terminal.StderrOnTerminal = true;
    auto words = TreatInto(inputs, P("out"));
    words.erase(std::find(words.begin(), words.end(), "-q"));
    const RunResult shown = Run(words, terminal);
    ASSERT_EQ(shown.ExitCode, 0) << shown.Err;
    EXPECT_NE(shown.Err.find("[1/40] 0.bmp"), std::string::npos) << shown.Err;
    EXPECT_NE(shown.Err.find("[40/40] 39.bmp"), std::string::npos) << shown.Err;
    EXPECT_NE(shown.Err.find("/s, "), std::string::npos) << shown.Err;
    EXPECT_NE(shown.Err.find(" s left"), std::string::npos) << shown.Err;
    EXPECT_NE(shown.Err.find("kavel-cli: 40 inputs: 40 processed"), std::string::npos);

    // --quiet silences line and summary; --progress forces the line into a file.
    words.push_back("-q");
    EXPECT_EQ(Run(words, terminal).Err, "");
    words.back() = "--progress";
    const RunResult forced = Run(words);
    EXPECT_NE(forced.Err.find("[40/40] 39.bmp"), std::string::npos) << forced.Err;
    words.push_back("--quiet");
    EXPECT_EQ(Run(words).Err, "");
}

TEST_F(DurableTest, JsonStaysValidForNamesThatAreNotUtf8) {
    const auto inputs = Inputs(1);
    const std::string odd = P("in/caf\xe9\n\x01.bmp");  // Latin-1, a newline, a control byte
    fs::copy_file(inputs[0], odd);
    const RunResult table = Run({"measure", odd, "--min", "0", "--max", "100", "--format", "json"});
    ASSERT_EQ(table.ExitCode, 0) << table.Err;
    EXPECT_NE(table.Out.find("caf\\udce9\\u000a\\u0001.bmp\""), std::string::npos) << table.Out;
    // Nothing but ASCII is left, so every reader takes it.
    EXPECT_TRUE(std::all_of(table.Out.begin(), table.Out.end(), [](char c) { return (c & 0x80) == 0; }));
    // Valid UTF-8 passes as it is.
    const std::string accented = P("in/caf\xc3\xa9.bmp");
    fs::copy_file(inputs[0], accented);
    const RunResult kept = Run({"suggest", accented, "--method", "otsu", "--format", "json"});
    EXPECT_NE(kept.Out.find("caf\xc3\xa9.bmp\""), std::string::npos) << kept.Out;
}

TEST_F(DurableTest, MessagesStayOnOneLineAndNameTheFix) {
    // A file name with a newline cannot split its message.
    const RunResult odd = Run({"tones", P("a\nb.raw")});
    EXPECT_EQ(odd.ExitCode, 1);
    EXPECT_EQ(SplitLines(odd.Err).size(), 1u) << odd.Err;
    EXPECT_NE(odd.Err.find("a\\nb.raw"), std::string::npos) << odd.Err;

    RunOptions piped;
    piped.Stdin = std::string(12, '\x07');
    const RunResult raw = Run({"tones", "-"}, piped);
    EXPECT_EQ(raw.ExitCode, 1);
    EXPECT_NE(raw.Err.find("raw bytes need --size LINESxCOLUMNS"), std::string::npos) << raw.Err;

    // Standard output that refuses the help is a failure, said on stderr.
    ASSERT_EQ(std::system("test -w /dev/full"), 0);
    const std::string full = std::string(KAVEL_CLI_PATH) + " --help >/dev/full 2>" + P("err");
    EXPECT_EQ(WEXITSTATUS(std::system(full.c_str())), 1);
    EXPECT_NE(ReadText(Path("err")).find("cannot write to standard output"), std::string::npos);
}

}  // namespace
}  // namespace kavel::clitest
