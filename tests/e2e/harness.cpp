#include "harness.h"

#include "sim_emulator.h"

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace e2e {

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out) throw std::runtime_error("write(" + path + ") failed");
}

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty()) result.push_back(line);
    }
    return result;
}

}  // namespace

Child spawn(const std::vector<std::string>& argv, const std::string& cwd, const std::string& out_path,
            const std::string& err_path) {
    const pid_t pid = testproc::spawn(argv, cwd, out_path, err_path);
    if (pid < 0) throw std::runtime_error("cannot start " + argv[0]);
    return Child{pid};
}

int waitFor(Child child, std::chrono::milliseconds timeout) {
    const int status = testproc::waitExit(child.pid, timeout);
    if (status == -1) {
        kill(child.pid, SIGKILL);
        waitpid(child.pid, nullptr, 0);
    }
    return status;
}

// A port with nothing listening on it.
int closedPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        close(fd);
        throw std::runtime_error("no free port");
    }
    close(fd);
    return ntohs(addr.sin_port);
}

void writeConfig(const std::string& dir, int port) {
    writeFile(dir + "/SimConnect.cfg",
              "[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=" + std::to_string(port) + "\n");
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::vector<minijson::Value> RunResult::transmits() const {
    std::vector<minijson::Value> result;
    for (const auto& line : trace) {
        if (line.str("call") == "TransmitClientEvent") result.push_back(line);
    }
    return result;
}

RunResult run(const RunOptions& options) {
    RunResult result;
    const TempDir temp;
    const std::string& dir = temp.path();
    std::optional<SimEmulator> emulator;
    int port = 0;
    if (options.start_emulator) {
        std::vector<std::string> args = {"--once",      "--quiet",          "--trace", dir + "/trace.jsonl",
                                         "--state-out", dir + "/state.json"};
        args.insert(args.end(), options.emulator_args.begin(), options.emulator_args.end());
        emulator.emplace(dir, "emulator");
        if (!emulator->start(args)) throw std::runtime_error("sim-emulator did not start: " + emulator->err());
        port = emulator->port();
    } else {
        port = closedPort();
    }
    writeConfig(dir, port);
    writeFile(dir + "/script.txt", options.script);

    std::vector<std::string> argv = {VIRTUAL_PANEL_BIN,
                                     "--script",
                                     dir + "/script.txt",
                                     "--leds",
                                     dir + "/leds.txt",
                                     "--linger-ms",
                                     std::to_string(options.linger_ms),
                                     "--",
                                     MSFS_PANEL_BIN};
    argv.insert(argv.end(), options.program_args.begin(), options.program_args.end());
    Child panel = spawn(argv, dir, dir + "/panel.out", dir + "/panel.err");
    if (emulator && options.stop_emulator_after_ms >= 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(options.stop_emulator_after_ms));
        kill(emulator->pid(), options.stop_emulator_signal);
    }
    result.panel_status = waitFor(panel, std::chrono::seconds(options.timeout_s));
    if (emulator) {
        // --once: the emulator leaves when the program has disconnected.
        result.emulator_status = emulator->wait();
        if (result.emulator_status == -1) result.emulator_status = emulator->stop(SIGTERM);
    }
    result.panel_stdout = readFile(dir + "/panel.out");
    result.panel_stderr = readFile(dir + "/panel.err");
    result.trace_text = readFile(dir + "/trace.jsonl");
    for (const auto& line : lines(result.trace_text)) {
        try {
            result.trace.push_back(minijson::Parser(line).parse());
        } catch (const std::exception& e) {
            throw std::runtime_error("unreadable trace line (" + std::string(e.what()) + "): " + line);
        }
    }
    result.leds = lines(readFile(dir + "/leds.txt"));
    const std::string state = readFile(dir + "/state.json");
    if (!state.empty()) result.state = minijson::Parser(state).parse();
    return result;
}

}  // namespace e2e
