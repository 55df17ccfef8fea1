#include "harness.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace e2e {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

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
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        int in = open("/dev/null", O_RDONLY);
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || chdir(cwd.c_str()) != 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        // A SimConnect.cfg in the tester's home must not redirect the program.
        setenv("HOME", cwd.c_str(), 1);
        execv(args[0], args.data());
        _exit(127);
    }
    return Child{pid};
}

// Exit status (or 128 + signal); -1 when it had to be killed after the timeout.
int waitFor(Child child, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (true) {
        pid_t r = waitpid(child.pid, &status, WNOHANG);
        if (r == child.pid) break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child.pid, SIGKILL);
            waitpid(child.pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
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

namespace {

int waitForPortFile(const std::string& path, Child emulator) {
    for (int i = 0; i < 500; ++i) {
        std::string text = readFile(path);
        if (!text.empty() && text.back() == '\n') return std::stoi(text);
        int status = 0;
        if (waitpid(emulator.pid, &status, WNOHANG) == emulator.pid) {
            throw std::runtime_error("sim-emulator exited before listening");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(emulator.pid, SIGKILL);
    throw std::runtime_error("sim-emulator did not write its port within 5 s");
}

}  // namespace

int startEmulator(Child& emulator, const std::string& dir, int port, const std::string& trace_name,
                  const std::vector<std::string>& extra) {
    const std::string port_file = dir + "/" + trace_name + ".port";
    std::remove(port_file.c_str());
    std::vector<std::string> argv = {SIM_EMULATOR_BIN, "--port", std::to_string(port), "--port-file", port_file,
                                     "--quiet", "--trace", dir + "/" + trace_name};
    argv.insert(argv.end(), extra.begin(), extra.end());
    emulator = spawn(argv, dir, dir + "/" + trace_name + ".out", dir + "/" + trace_name + ".err");
    return waitForPortFile(port_file, emulator);
}

std::optional<JsonObject> JsonObject::parse(const std::string& text) {
    JsonObject obj;
    std::size_t i = 0;
    auto skip = [&] {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    };
    auto parseString = [&](std::string& out) {
        if (i >= text.size() || text[i] != '"') return false;
        ++i;
        while (i < text.size() && text[i] != '"') {
            char c = text[i++];
            if (c == '\\' && i < text.size()) {
                char e = text[i++];
                switch (e) {
                case 'n': out += '\n'; break;
                case 't': out += '\t'; break;
                case 'u': out += '?'; i += 4; break;
                default: out += e;
                }
            } else {
                out += c;
            }
        }
        if (i >= text.size()) return false;
        ++i;
        return true;
    };
    skip();
    if (i >= text.size() || text[i] != '{') return std::nullopt;
    ++i;
    skip();
    if (i < text.size() && text[i] == '}') return obj;
    while (i < text.size()) {
        skip();
        std::string key, value;
        if (!parseString(key)) return std::nullopt;
        skip();
        if (i >= text.size() || text[i] != ':') return std::nullopt;
        ++i;
        skip();
        if (i < text.size() && text[i] == '"') {
            if (!parseString(value)) return std::nullopt;
        } else {
            // Numbers and literals; a nested object or array is kept as raw text.
            std::size_t start = i;
            int depth = 0;
            bool in_string = false;
            while (i < text.size()) {
                char c = text[i];
                if (in_string) {
                    if (c == '\\') ++i;
                    else if (c == '"') in_string = false;
                } else if (c == '"') {
                    in_string = true;
                } else if (c == '{' || c == '[') {
                    ++depth;
                } else if (c == '}' || c == ']') {
                    if (depth == 0) break;
                    --depth;
                } else if (c == ',' && depth == 0) {
                    break;
                }
                ++i;
            }
            value = text.substr(start, i - start);
            while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back()))) value.pop_back();
            if (value.empty()) return std::nullopt;
        }
        obj.fields_[key] = value;
        skip();
        if (i < text.size() && text[i] == ',') {
            ++i;
            continue;
        }
        if (i < text.size() && text[i] == '}') return obj;
        return std::nullopt;
    }
    return std::nullopt;
}

std::string JsonObject::str(const std::string& key) const {
    auto it = fields_.find(key);
    return it == fields_.end() ? std::string("<missing " + key + ">") : it->second;
}

std::int64_t JsonObject::num(const std::string& key) const {
    auto it = fields_.find(key);
    if (it == fields_.end()) throw std::runtime_error("field " + key + " missing");
    return std::stoll(it->second);
}

double JsonObject::real(const std::string& key) const {
    auto it = fields_.find(key);
    if (it == fields_.end()) throw std::runtime_error("field " + key + " missing");
    return std::stod(it->second);
}

std::vector<JsonObject> RunResult::transmits() const {
    std::vector<JsonObject> result;
    for (const auto& line : trace) {
        if (line.str("call") == "TransmitClientEvent") result.push_back(line);
    }
    return result;
}

std::string makeTempDir() {
    std::string pattern = "/tmp/msfs-e2e-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

RunResult run(const RunOptions& options) {
    RunResult result;
    const std::string dir = makeTempDir();
    Child emulator;
    int port = 0;
    if (options.start_emulator) {
        std::vector<std::string> argv = {SIM_EMULATOR_BIN, "--port", "0", "--port-file", dir + "/port",
                                         "--once", "--quiet", "--trace", dir + "/trace.jsonl",
                                         "--state-out", dir + "/state.json"};
        argv.insert(argv.end(), options.emulator_args.begin(), options.emulator_args.end());
        emulator = spawn(argv, dir, dir + "/emulator.out", dir + "/emulator.err");
        port = waitForPortFile(dir + "/port", emulator);
    } else {
        port = closedPort();
    }
    writeConfig(dir, port);
    writeFile(dir + "/script.txt", options.script);

    std::vector<std::string> argv = {VIRTUAL_PANEL_BIN, "--script", dir + "/script.txt", "--leds", dir + "/leds.txt",
                                     "--linger-ms", std::to_string(options.linger_ms), "--", MSFS_PANEL_BIN};
    argv.insert(argv.end(), options.program_args.begin(), options.program_args.end());
    Child panel = spawn(argv, dir, dir + "/panel.out", dir + "/panel.err");
    if (options.start_emulator && options.stop_emulator_after_ms >= 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(options.stop_emulator_after_ms));
        kill(emulator.pid, options.stop_emulator_signal);
    }
    result.panel_status = waitFor(panel, std::chrono::seconds(options.timeout_s));
    if (options.start_emulator) {
        // --once: the emulator leaves when the program has disconnected.
        Child e = emulator;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        int status = 0;
        while (waitpid(e.pid, &status, WNOHANG) != e.pid) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(e.pid, SIGTERM);
                waitpid(e.pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        result.emulator_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    result.panel_stdout = readFile(dir + "/panel.out");
    result.panel_stderr = readFile(dir + "/panel.err");
    for (const auto& line : lines(readFile(dir + "/trace.jsonl"))) {
        auto obj = JsonObject::parse(line);
        if (!obj) throw std::runtime_error("unreadable trace line: " + line);
        result.trace.push_back(*obj);
    }
    result.leds = lines(readFile(dir + "/leds.txt"));
    std::string state = readFile(dir + "/state.json");
    if (!state.empty()) result.state = JsonObject::parse(state);
    if (!std::getenv("E2E_KEEP")) {
        std::string cmd = "rm -rf '" + dir + "'";
        if (std::system(cmd.c_str()) != 0) {
            // Leftovers in /tmp are harmless.
        }
    }
    return result;
}

}  // namespace e2e
