#include "sim/sim_printer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace vekta {

namespace {

void SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text + ": " + std::strerror(errno);
}

// The --link path is only ever a symlink of ours: whatever else stands there (a real device, a
// file) is left alone.
void RemoveLink(const std::string& path) {
  struct stat st {};
  if (!path.empty() && lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) unlink(path.c_str());
}

}  // namespace

SimPrinter::SimPrinter(SimOptions options)
    : m_options(std::move(options)), m_model(std::make_unique<PrinterModel>(m_options)) {}

SimPrinter::~SimPrinter() {
  Stop();
  RemoveLink(m_options.linkPath);
}

bool SimPrinter::Start(std::string* error) {
  if (m_thread.joinable()) return true;
  if (!m_options.replayLog.empty() && !m_replay) {
    auto replay = std::make_unique<ReplayScript>();
    if (!replay->LoadFile(m_options.replayLog, error)) return false;
    m_replay = std::move(replay);
  }
  if (!OpenPty(error)) return false;
  m_stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (m_stopFd < 0) {
    SetError(error, "eventfd");
    ClosePty();
    return false;
  }
  m_stop = false;
  m_parser = SimFrameParser{};  // a frame cut off with the last line is gone with it
  m_thread = std::thread([this] { Run(); });
  return true;
}

void SimPrinter::Stop() {
  if (m_thread.joinable()) {
    m_stop = true;
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = write(m_stopFd, &one, sizeof one);
    m_thread.join();
  }
  if (m_stopFd >= 0) {
    close(m_stopFd);
    m_stopFd = -1;
  }
  ClosePty();
}

bool SimPrinter::OpenPty(std::string* error) {
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) {
    SetError(error, "posix_openpt");
    return false;
  }
  if (grantpt(master) != 0 || unlockpt(master) != 0) {
    SetError(error, "grantpt/unlockpt");
    close(master);
    return false;
  }
  char name[128] = {};
  if (ptsname_r(master, name, sizeof name) != 0) {
    SetError(error, "ptsname");
    close(master);
    return false;
  }
  // Holding the slave open keeps the master readable between host sessions: with no slave
  // open a read of the master fails with EIO at once and the reader would spin.
  int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) {
    SetError(error, std::string("open ") + name);
    close(master);
    return false;
  }
  // Raw at once: a cooked slave would echo our own replies back to us as commands.
  termios tio{};
  if (tcgetattr(slave, &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
  }
  if (tcgetattr(master, &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(master, TCSANOW, &tio);
  }
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  if (!m_options.linkPath.empty()) {
    RemoveLink(m_options.linkPath);
    if (symlink(name, m_options.linkPath.c_str()) != 0) {
      SetError(error, "symlink " + m_options.linkPath);
      close(slave);
      close(master);
      return false;
    }
  }
  std::lock_guard<std::mutex> lock(m_lineMutex);
  m_master = master;
  m_slaveHold = slave;
  m_slavePath = name;
  return true;
}

void SimPrinter::ClosePty() {
  std::lock_guard<std::mutex> lock(m_lineMutex);
  if (m_master >= 0) close(m_master);
  if (m_slaveHold >= 0) close(m_slaveHold);
  m_master = -1;
  m_slaveHold = -1;
}

std::string SimPrinter::SlavePath() const {
  std::lock_guard<std::mutex> lock(m_lineMutex);
  return m_slavePath;
}

bool SimPrinter::Unplugged() const {
  std::lock_guard<std::mutex> lock(m_lineMutex);
  return m_master < 0;
}

void SimPrinter::Unplug() {
  Stop();
  // A pulled cable takes its device node with it: left behind, the link would name a
  // pseudo-terminal number that the next one opened (another printer's, perhaps) takes over.
  RemoveLink(m_options.linkPath);
}

bool SimPrinter::Replug(std::string* error) {
  Stop();
  return Start(error);
}

void SimPrinter::SetSplitFrames(bool on) {
  std::lock_guard<std::mutex> lock(m_lineMutex);
  m_split = on;
}

void SimPrinter::SendGarbage(const std::string& bytes) {
  LineDelay(bytes.size());
  std::lock_guard<std::mutex> lock(m_lineMutex);
  WriteBytes(bytes);
}

void SimPrinter::SendUnsolicited(const std::string& text) {
  if (!m_model->PoweredOn()) return;
  std::lock_guard<std::mutex> lock(m_lineMutex);
  WriteFrame(text);
}

std::chrono::microseconds SimPrinter::LineTime(std::size_t bytes) const {
  if (m_options.baud <= 0) return std::chrono::microseconds(0);
  // 1 start, 8 data, parity and 2 stop bits: 12 bits per byte
  return std::chrono::microseconds(static_cast<long long>(bytes) * 12 * 1000000 / m_options.baud);
}

void SimPrinter::LineDelay(std::size_t bytes) const {
  if (m_options.baud <= 0 || bytes == 0) return;
  std::this_thread::sleep_for(LineTime(bytes));
}

void SimPrinter::Run() {
  // The line's times are a few hundred microseconds a frame: sleep no longer than asked.
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
  int master = -1;
  {
    std::lock_guard<std::mutex> lock(m_lineMutex);
    master = m_master;
  }
  std::vector<char> buffer(4096);
  std::vector<SimInput> inputs;
  while (!m_stop) {
    pollfd fds[2] = {{master, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
    int ready = poll(fds, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents != 0 || m_stop) break;
    if ((fds[0].revents & POLLIN) == 0) {
      // hang-up without data cannot happen while we hold the slave; do not spin if it does
      if (fds[0].revents != 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    ssize_t got = read(master, buffer.data(), buffer.size());
    if (got <= 0) {
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    m_bytesIn += static_cast<std::uint64_t>(got);
    // The line keeps its own schedule: every wait is until a point in time, so that the
    // oversleeping of one wait is not added to the next.
    auto lineAt = std::chrono::steady_clock::now() + LineTime(static_cast<std::size_t>(got));
    inputs.clear();
    m_parser.Feed(buffer.data(), static_cast<std::size_t>(got), inputs);
    for (const auto& input : inputs) Answer(input, lineAt);
    std::this_thread::sleep_until(lineAt);
  }
}

void SimPrinter::Answer(const SimInput& input, std::chrono::steady_clock::time_point& lineAt) {
  SimReply reply;
  const std::uint64_t powerOffs = m_model->PowerOffs();
  if (!m_replay) {
    reply = m_model->HandleInput(input);
  } else if (m_model->Answering()) {
    reply = m_replay->Answer(input);
  }
  if (reply.messages.empty()) return;
  int lineMs = m_options.printLineMs >= 0 ? m_options.printLineMs : (m_options.baud > 0 ? 20 : 0);
  if (reply.printedLines > 0 && lineMs > 0) {
    lineAt += std::chrono::milliseconds(lineMs * reply.printedLines);
    m_printMs += static_cast<std::uint64_t>(lineMs * reply.printedLines);
  }
  if (m_options.baud > 0) {
    // On the line each frame arrives when its last byte has been sent, not all at once.
    for (const auto& message : reply.messages) {
      const std::string frame = SimFrame(message);
      lineAt += LineTime(frame.size());
      std::this_thread::sleep_until(lineAt);
      if (m_model->PowerOffs() != powerOffs) return;
      std::lock_guard<std::mutex> lock(m_lineMutex);
      WriteFrames(frame);
    }
    return;
  }
  // all replies to one command in one write, so that a host reading them sees them together
  std::string frames;
  for (const auto& message : reply.messages) frames += SimFrame(message);
  std::this_thread::sleep_until(lineAt);
  // switched off while it printed: what it carried out stays done, its reply never leaves
  if (m_model->PowerOffs() != powerOffs) return;
  std::lock_guard<std::mutex> lock(m_lineMutex);
  WriteFrames(frames);
}

SimPrinter::LineCounts SimPrinter::Counts() const {
  return {m_bytesIn.load(), m_bytesOut.load(), m_printMs.load()};
}

void SimPrinter::WriteFrame(const std::string& text) {
  WriteFrames(SimFrame(text));
}

void SimPrinter::WriteFrames(const std::string& frame) {
  if (m_split && frame.size() > 1) {
    std::size_t half = frame.size() / 2;
    WriteBytes(frame.substr(0, half));
    // long enough for the host to read the halves apart and to give up on the first one
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    WriteBytes(frame.substr(half));
    return;
  }
  WriteBytes(frame);
}

void SimPrinter::WriteBytes(const std::string& bytes) {
  // Counted before they go: the host may read them and ask for the count at once.
  if (m_master >= 0) m_bytesOut += bytes.size();
  std::size_t done = 0;
  while (m_master >= 0 && done < bytes.size()) {
    ssize_t n = write(m_master, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      // nobody reads the slave: give the host a second, then drop the rest as a line would
      pollfd fd{m_master, POLLOUT, 0};
      if (poll(&fd, 1, 1000) > 0) continue;
    }
    return;
  }
}

}  // namespace vekta
