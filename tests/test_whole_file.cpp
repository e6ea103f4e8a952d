// The one way of writing a file whole: what each kind of name gets, and
// that a failure or an interrupt leaves the old file and nothing else.
#include "textio/whole_file.h"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct TempFolder {
    std::string path = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/vwhole_XXXXXX";
    TempFolder() {
        if (!mkdtemp(path.data())) path.clear();
    }
    ~TempFolder() {
        std::error_code ec;
        if (!path.empty()) fs::remove_all(path, ec);
    }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
};

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void put(const std::string& path, const std::string& bytes, mode_t mode = 0644) {
    std::ofstream(path, std::ios::binary) << bytes;
    chmod(path.c_str(), mode);
}

// The names in a folder and its sub-folders, links and all, relative to it.
std::vector<std::string> names_in(const std::string& folder) {
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        out.push_back(e.path().lexically_relative(folder).string());
    std::sort(out.begin(), out.end());
    return out;
}

mode_t mode_of(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

class UmaskSet {
public:
    explicit UmaskSet(mode_t mask) : old_(umask(mask)) {}
    ~UmaskSet() { umask(old_); }

private:
    mode_t old_;
};

}  // namespace

TEST(WholeFile, FilesAndLinksReplacedByRename) {
    const UmaskSet mask(027);
    struct Case {
        int line;
        // Makes the folder's files and returns the output's name.
        std::function<std::string(const TempFolder&)> make;
        std::string target;                // the file that gets the bytes
        mode_t mode;                       // its permission bits afterwards
        std::vector<std::string> links;    // names that must still be links
        std::vector<std::string> names;    // everything in the folder afterwards
    } cases[] = {
        {__LINE__, [](const TempFolder& d) { put(d / "out", "old", 0604); return d / "out"; }, "out", 0604, {},
         {"out"}},
        {__LINE__, [](const TempFolder& d) { return d / "new"; }, "new", 0640, {}, {"new"}},
        {__LINE__,
         [](const TempFolder& d) {
             fs::create_directory(d / "sub");
             put(d / "sub/file", "old", 0600);
             fs::create_symlink("sub/file", d / "link");
             return d / "link";
         },
         "sub/file", 0600, {"link"}, {"link", "sub", "sub/file"}},
        {__LINE__,
         [](const TempFolder& d) {
             // Two levels of links, the second relative to its own folder.
             fs::create_directory(d / "sub");
             put(d / "sub/file", "old", 0620);
             fs::create_symlink("file", d / "sub/inner");
             fs::create_symlink(d / "sub/inner", d / "outer");
             return d / "outer";
         },
         "sub/file", 0620, {"outer", "sub/inner"}, {"outer", "sub", "sub/file", "sub/inner"}},
        {__LINE__,
         [](const TempFolder& d) {
             fs::create_directory(d / "sub");
             fs::create_symlink("sub/later", d / "dangling");
             return d / "dangling";
         },
         "sub/later", 0640, {"dangling"}, {"dangling", "sub", "sub/later"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const TempFolder dir;
        const std::string name = c.make(dir);
        struct stat before {};
        const bool existed = stat((dir / c.target).c_str(), &before) == 0;
        EXPECT_EQ(textio::write_whole(name, "new bytes\n"), "");
        EXPECT_EQ(read_all(dir / c.target), "new bytes\n");
        EXPECT_EQ(mode_of(dir / c.target), c.mode);
        for (const std::string& l : c.links) EXPECT_TRUE(fs::is_symlink(dir / l)) << l;
        EXPECT_EQ(names_in(dir.path), c.names);
        struct stat after {};
        ASSERT_EQ(lstat((dir / c.target).c_str(), &after), 0);
        EXPECT_TRUE(S_ISREG(after.st_mode));
        // Renamed over, never rewritten in place: a reader of the old file
        // keeps the old bytes.
        if (existed) {
            EXPECT_NE(after.st_ino, before.st_ino);
        }
    }
}

TEST(WholeFile, DevicesAndFifosWrittenInPlace) {
    const TempFolder dir;
    const std::string bytes = "curves\n";
    {
        SCOPED_TRACE("a FIFO: its reader gets the bytes, it stays a FIFO");
        const std::string fifo = dir / "fifo";
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        fs::create_symlink(fifo, dir / "to-fifo");
        for (const std::string& name : {fifo, dir / "to-fifo"}) {
            std::string got;
            std::thread reader([&] { got = read_all(fifo); });
            EXPECT_EQ(textio::write_whole(name, bytes), "");
            reader.join();
            EXPECT_EQ(got, bytes);
            EXPECT_TRUE(fs::is_fifo(fifo));
        }
        EXPECT_TRUE(fs::is_symlink(dir / "to-fifo"));
    }
    {
        SCOPED_TRACE("a terminal: the bytes on its other side, the device kept");
        int master = -1, slave = -1;
        char name[256] = {};
        ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        termios raw {};
        tcgetattr(slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
        EXPECT_EQ(textio::write_whole(name, bytes), "");
        std::string got(bytes.size(), '\0');
        std::size_t n = 0;
        while (n < got.size()) {
            const ssize_t k = read(master, got.data() + n, got.size() - n);
            if (k <= 0) break;
            n += static_cast<std::size_t>(k);
        }
        EXPECT_EQ(got, bytes);
        struct stat st {};
        EXPECT_EQ(stat(name, &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode));
        close(slave);
        close(master);
    }
    {
        SCOPED_TRACE("a FIFO waited for with a wake-up descriptor: a reader that comes late, or the wake-up");
        const std::string fifo = dir / "fifo";
        for (const bool wake : {false, true}) {
            SCOPED_TRACE(wake);
            int ends[2];
            ASSERT_EQ(pipe(ends), 0);
            textio::Replacement r;
            EXPECT_EQ(r.prepare(fifo, bytes), "");
            std::string got;
            std::thread other([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(60));
                if (wake) EXPECT_EQ(write(ends[1], "!", 1), 1);
                else got = read_all(fifo);
            });
            const std::string e = r.commit(ends[0]);
            other.join();
            if (wake) {
                EXPECT_NE(e.find("Interrupted system call"), std::string::npos) << e;
            } else {
                EXPECT_EQ(e, "");
                EXPECT_EQ(got, bytes);
            }
            EXPECT_TRUE(fs::is_fifo(fifo));
            close(ends[0]);
            close(ends[1]);
        }
    }
    {
        SCOPED_TRACE("a FIFO whose reader stops reading: the wait for room ends at the wake-up");
        const std::string fifo = dir / "fifo";
        const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // opened, never read
        ASSERT_GE(reader, 0);
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        textio::Replacement r;
        EXPECT_EQ(r.prepare(fifo, std::string(1 << 20, 'x')), "");  // more than a pipe holds
        std::thread other([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
            EXPECT_EQ(write(ends[1], "!", 1), 1);
        });
        const std::string e = r.commit(ends[0]);
        other.join();
        EXPECT_NE(e.find("Interrupted system call"), std::string::npos) << e;
        for (const int fd : {reader, ends[0], ends[1]}) close(fd);
    }
    EXPECT_EQ(names_in(dir.path), (std::vector<std::string>{"fifo", "to-fifo"}));
}

// Each name that stands for a descriptor is written through it at its
// offset: a child process gets a file or a pipe as descriptor fd, the part
// before the offset written already, and writes the bytes by that name.
TEST(WholeFile, DescriptorsWrittenAtTheirOffset) {
    const TempFolder dir;
    fs::create_symlink("/proc/self/fd/1", dir / "to-proc-1");
    fs::create_symlink("/dev/stdout", dir / "to-stdout");
    fs::create_symlink("/dev/fd/5", dir / "to-fd-5");
    fs::create_symlink(dir / "to-stdout", dir / "to-to-stdout");
    fs::create_directory(dir / "sub");
    fs::create_symlink("/proc/self/fd", dir / "sub/fds");
    struct Case {
        int line;
        std::string name;
        int fd;
        bool pipe;  // a pipe, else a file
    } cases[] = {
        {__LINE__, "-", 1, false},
        {__LINE__, "/dev/stdout", 1, false},
        {__LINE__, "/dev/stderr", 2, false},
        {__LINE__, "/dev/fd/5", 5, false},
        {__LINE__, "/proc/self/fd/5", 5, false},
        {__LINE__, "/proc/self/fd/1", 1, true},
        {__LINE__, dir / "to-proc-1", 1, false},
        {__LINE__, dir / "to-proc-1", 1, true},
        {__LINE__, dir / "to-to-stdout", 1, false},
        {__LINE__, dir / "to-fd-5", 5, true},
        {__LINE__, dir / "sub/fds/1", 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string file = dir / "fd-file";
        put(file, "head-");
        int ends[2] = {-1, -1};
        if (c.pipe) {
            ASSERT_EQ(pipe(ends), 0);
        }
        struct stat before {};
        stat(file.c_str(), &before);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            int fd = c.pipe ? ends[1] : open(file.c_str(), O_WRONLY);
            if (!c.pipe) lseek(fd, 5, SEEK_SET);
            if (dup2(fd, c.fd) != c.fd) _exit(3);
            const std::string e = textio::write_whole(c.name, "body");
            _exit(e.empty() ? 0 : 1);
        }
        if (c.pipe) close(ends[1]);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        if (c.pipe) {
            char buf[64];
            const ssize_t n = read(ends[0], buf, sizeof buf);
            EXPECT_EQ(std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0), "body");
            close(ends[0]);
            EXPECT_EQ(read_all(file), "head-");
        } else {
            EXPECT_EQ(read_all(file), "head-body");
            struct stat after {};
            stat(file.c_str(), &after);
            EXPECT_EQ(after.st_ino, before.st_ino) << "reopened or renamed over";
        }
        for (const char* l : {"to-proc-1", "to-stdout", "to-fd-5", "to-to-stdout", "sub/fds"})
            EXPECT_TRUE(fs::is_symlink(dir / l)) << l;
    }
}

TEST(WholeFile, Refusals) {
    const TempFolder dir;
    fs::create_directory(dir / "folder");
    fs::create_symlink("folder", dir / "to-folder");
    put(dir / "file", "kept");
    const int read_only = open((dir / "file").c_str(), O_RDONLY);
    ASSERT_GT(read_only, 2);
    fcntl(read_only, F_SETFD, 0);
    const int own = open((dir / "file").c_str(), O_WRONLY | O_CLOEXEC);
    struct Case {
        int line;
        std::string name;
        std::string says;
    } cases[] = {
        {__LINE__, dir / "folder", "folder, not a file"},
        {__LINE__, dir / "to-folder", "folder, not a file"},
        {__LINE__, dir / "new/", "a folder, not a file"},
        {__LINE__, dir / "missing/x", "No such file or directory"},
        {__LINE__, dir / "file/x", "Not a directory"},
        {__LINE__, "", "no file name"},
        {__LINE__, "/dev/fd/" + std::to_string(read_only), "open for reading only"},
        {__LINE__, "/dev/fd/" + std::to_string(own), "not one this program was given"},
        {__LINE__, "/dev/fd/999", "descriptor 999 is not open"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string e = textio::write_whole(c.name, "bytes");
        EXPECT_NE(e.find(c.says), std::string::npos) << e;
        EXPECT_EQ(read_all(dir / "file"), "kept");
        EXPECT_EQ(names_in(dir.path), (std::vector<std::string>{"file", "folder", "to-folder"}));
    }
    close(read_only);
    close(own);
}

TEST(WholeFile, PlantedLinksAtTemporaryNamesAreNotFollowed) {
    const TempFolder dir;
    put(dir / "victim", "victim's bytes");
    put(dir / "out.csv", "old");
    // The names a fixed-name writer would use, each a link to the victim.
    const std::vector<std::string> planted = {"out.csv.tmp", ".out.csv.tmp", ".out.csv", "out.csv~", ".out.csv.XXXXXX"};
    for (const std::string& p : planted) fs::create_symlink(dir / "victim", dir / p);
    EXPECT_EQ(textio::write_whole(dir / "out.csv", "new"), "");
    EXPECT_EQ(read_all(dir / "out.csv"), "new");
    EXPECT_EQ(read_all(dir / "victim"), "victim's bytes");
    for (const std::string& p : planted) EXPECT_TRUE(fs::is_symlink(dir / p)) << p;
    EXPECT_EQ(names_in(dir.path).size(), planted.size() + 2);
}

// A write that fails (the file size limit, its signal ignored, so the
// write returns EFBIG) or outputs given up leave every old file as it was
// and no new file behind.
TEST(WholeFile, FailuresAndInterruptsLeaveTheOldFile) {
    const std::string big(64 * 1024, 'x');
    struct Case {
        int line;
        const char* how;
    } cases[] = {
        {__LINE__, "size limit"},
        {__LINE__, "second output fails"},
        {__LINE__, "given up"},
        {__LINE__, "interrupt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const TempFolder dir;
        put(dir / "a", "old a");
        put(dir / "b", "old b");
        const std::string how = c.how;
        struct rlimit old_limit {};
        getrlimit(RLIMIT_FSIZE, &old_limit);
        const auto old_handler = signal(SIGXFSZ, SIG_IGN);
        std::string error;
        {
            textio::Replacement a, b;
            EXPECT_EQ(a.prepare(dir / "a", "new a"), "");
            if (how == "size limit" || how == "second output fails") {
                struct rlimit small = old_limit;
                small.rlim_cur = 4096;
                setrlimit(RLIMIT_FSIZE, &small);
                error = how == "size limit" ? textio::write_whole(dir / "b", big) : b.prepare(dir / "b", big);
                setrlimit(RLIMIT_FSIZE, &old_limit);
                EXPECT_NE(error.find("File too large"), std::string::npos) << error;
            } else {
                EXPECT_EQ(b.prepare(dir / "b", big), "");
                EXPECT_EQ(names_in(dir.path).size(), 4u) << "both new files made";
                // What an interrupt's handler does before the process ends.
                if (how == "interrupt") textio::remove_pending_temporaries();
            }
            if (how == "interrupt") {
                EXPECT_EQ(names_in(dir.path).size(), 2u);
            }
            // a is never committed: the program gives up once one output failed.
        }
        signal(SIGXFSZ, old_handler);
        EXPECT_EQ(read_all(dir / "a"), "old a");
        EXPECT_EQ(read_all(dir / "b"), "old b");
        EXPECT_EQ(names_in(dir.path), (std::vector<std::string>{"a", "b"}));
    }
}

TEST(WholeFile, OutputsClashWithInputsAndEachOther) {
    const TempFolder dir;
    put(dir / "in", "data");
    fs::create_symlink("in", dir / "link-in");
    fs::create_symlink("/dev/stdout", dir / "to-stdout");
    using F = textio::NamedFile;
    struct Case {
        int line;
        std::vector<F> files;
        std::string says;  // empty: no clash
    } cases[] = {
        {__LINE__, {{"the input", dir / "in"}, {"--csv", dir / "in", true}}, "the output would replace what is read"},
        {__LINE__, {{"the input", dir / "in"}, {"--csv", dir / "link-in", true}}, "are the same file"},
        {__LINE__, {{"--csv", dir / "x/../new", true}, {"-o", dir / "new", true}}, "one output would replace the other"},
        {__LINE__, {{"--csv", "-", true}, {"--script", "-", true}}, "--csv and --script both go to standard output"},
        {__LINE__, {{"--csv", "-", true}, {"--script", dir / "to-stdout", true}}, "both go to standard output"},
        {__LINE__, {{"--csv", "/dev/fd/7", true}, {"--script", "/proc/self/fd/7", true}}, "both go to descriptor 7"},
        {__LINE__, {{"the input", "-"}, {"--csv", "-", true}}, ""},
        {__LINE__, {{"the input", dir / "in"}, {"--csv", dir / "out", true}, {"-o", dir / "pic", true}}, ""},
        // Only looked at, never written: the null device takes any number.
        {__LINE__, {{"--csv", "/dev/null", true}, {"--script", "/dev/null", true}}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string e = textio::clash(c.files);
        if (c.says.empty()) EXPECT_EQ(e, "");
        else EXPECT_NE(e.find(c.says), std::string::npos) << e;
    }
}
