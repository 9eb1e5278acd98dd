#pragma once
// The main() shared by every benchmark: the process is set up as the
// program sets itself up (offscreen platform, the libraries and the
// application's shape classes, the program folder with its language file,
// the application font), with settings and templates in a scratch folder,
// and nothing that could open a modal box and wait for a user.
//
// A benchmark may also run a named job in a fresh copy of its own binary
// (RunJob), where a measurement needs a process to itself: the peak
// resident size of a whole job, or the first call in a new process.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QWidget>
#include <QByteArray>
#include <QLocale>
#include <QSettings>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "app/ApplicationSetup.h"
#include "app/Localizer.h"
#include "app/Settings.h"
#include "app/shapes/ProjectInfoShape.h"
#include "document/Startup.h"
#include "kdl/Version.h"
#include "platform/ProgramFolder.h"
#include "platform/qt/ErrorDisplay.h"
#include "platform/qt/MessageBox.h"

namespace bench {

// Widgets are measured on the offscreen platform unless the caller chose one.
inline void UseOffscreenPlatform() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
}

// A folder of this process's own, removed when the program object goes.
inline const std::filesystem::path& Scratch() {
  static const std::filesystem::path folder = [] {
    std::string name = (std::filesystem::temp_directory_path() / "kdl-bench-XXXXXX").string();
    if (!mkdtemp(name.data())) {
      std::perror("kdl-bench: scratch folder");
      std::exit(2);
    }
    return std::filesystem::path(name);
  }();
  return folder;
}

// Messages the program would have shown in a box; a benchmark that caused
// one did not measure what it says, so the run ends with a failure status.
inline std::atomic<int>& ShownMessages() {
  static std::atomic<int> count{0};
  return count;
}

inline void Report(std::string_view kind, const std::string& text) {
  ++ShownMessages();
  std::cerr << "kdl-bench: " << kind << ": " << text << std::endl;
}

// What main() of the program does before its first window, in the same
// order.
class TProgram {
 public:
  TProgram(int& argc, char** argv) {
    UseOffscreenPlatform();
    // Settings and templates in scratch folders, never the user's.
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((Scratch() / "config").string()));
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString((Scratch() / "data").string()));
    // Never destroyed: widgets a benchmark keeps for the whole run must not
    // outlive it, and Qt's own statics may go first.
    static QApplication* app = new QApplication(argc, argv);
    kdl::PrepareApplication();
    kdl::SetErrorDisplay([](const std::string& text) { Report("error", text); });
    kdl::SetMessageDisplay([](const std::string& text) { Report("message", text); });
    kdl::Localizer().OnLangError = [] { Report("error", "Lang error"); };
    // The assets of the source tree: languages, help, the default picture.
    kdl::SetProgramFolder(std::filesystem::path(KDL_SOURCE_DIR) / "resources");
    std::string language = kdl::kDefaultLanguage;
    kdl::LoadLanguage(language);
    // The user's settings: the main window starts without its wizard.
    kdl::TSettings settings;
    settings.RunWizardOnStartup = false;
    kdl::SaveSettings(*kdl::OpenUserSettings(), settings);
    // A modal box that nobody answers would stop the run: it is reported
    // and closed.
    auto* watch = new QTimer(app);
    QObject::connect(watch, &QTimer::timeout, [] {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        Report("modal window closed", modal->windowTitle().toStdString());
        modal->close();
      }
    });
    watch->start(1000);
  }
  ~TProgram() {
    kdl::FinalizeDocumentLibrary();
    std::error_code ec;
    std::filesystem::remove_all(Scratch(), ec);
  }
  TProgram(const TProgram&) = delete;
  TProgram& operator=(const TProgram&) = delete;

  // The exit status: failure when anything was shown to the user.
  static int Status() { return ShownMessages() == 0 ? 0 : 1; }
};

inline int RunBenchmarks(int& argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

// ---- Jobs in a fresh process ----------------------------------------------------------------

// A job reads its arguments and answers named figures.
using TJobValues = std::map<std::string, double>;
using TJob = std::function<void(const std::vector<std::string>& args, TJobValues& out)>;
using TJobs = std::map<std::string, TJob>;

inline constexpr std::string_view kJobOption = "--kdl-job=";
inline constexpr std::string_view kJobLine = "kdl-job-value ";

struct TJobResult {
  bool Ok = false;
  double PeakMiB = 0;  // the whole child process's peak resident size
  TJobValues Values;
};

// Runs job in a new process of this binary, set up as the program is, and
// waits for it.
inline TJobResult RunJob(const std::string& job, const std::vector<std::string>& args) {
  TJobResult result;
  // Everything the child needs is made before the fork: after it, only
  // calls that allocate nothing.
  std::vector<std::string> words{"kdl-bench-job", std::string(kJobOption) + job};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  int fds[2];
  if (pipe(fds) != 0) return result;
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return result;
  }
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    execv("/proc/self/exe", argv.data());
    _exit(127);
  }
  close(fds[1]);
  std::string output;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n > 0) {
      output.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  close(fds[0]);
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  result.PeakMiB = static_cast<double>(usage.ru_maxrss) / 1024;  // kilobytes on Linux
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind(kJobLine, 0) != 0) continue;
    std::istringstream fields(line.substr(kJobLine.size()));
    std::string name;
    double value = 0;
    if (fields >> name >> value) result.Values[name] = value;
  }
  result.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!result.Ok) Report("job failed", job);
  return result;
}

// The whole main(): a job when the first argument names one, the
// benchmarks otherwise.
inline int Main(int argc, char** argv, const TJobs& jobs = {}) {
  if (argc > 1 && std::string_view(argv[1]).rfind(kJobOption, 0) == 0) {
    const std::string name(std::string_view(argv[1]).substr(kJobOption.size()));
    const std::vector<std::string> args(argv + 2, argv + argc);
    int qtArgc = 1;
    TProgram program(qtArgc, argv);
    const auto job = jobs.find(name);
    if (job == jobs.end()) {
      Report("no such job", name);
      return 2;
    }
    TJobValues values;
    job->second(args, values);
    for (const auto& [key, value] : values) std::cout << kJobLine << key << ' ' << value << '\n';
    std::cout.flush();
    return TProgram::Status();
  }
  TProgram program(argc, argv);
  const int status = RunBenchmarks(argc, argv);
  return status != 0 ? status : TProgram::Status();
}

}  // namespace bench
