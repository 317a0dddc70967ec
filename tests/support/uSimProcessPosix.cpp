#include "support/uSimProcess.h"

#include <httplib.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <stdexcept>
#include <thread>

#include "platform/uPath.h"

namespace egaiss::test {
namespace {

constexpr auto SimStartLimit = std::chrono::seconds(15);

httplib::Client ControlClient(int port) {
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(5);
    // A state with thousands of documents is large, and the simulator may be busy with delayed requests.
    client.set_read_timeout(60);
    client.set_write_timeout(30);
    return client;
}

// The child creates its output file after the fork: until then there is no output yet.
std::string ReadIfExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(path, error) ? ReadFileText(path) : std::string();
}

}  // namespace

std::string TSimControl::BaseURL() const {
    return "http://127.0.0.1:" + std::to_string(FPort);
}

rapidjson::Document TSimControl::State() const {
    auto client = ControlClient(FPort);
    const auto res = client.Get("/sim/state");
    if (!res) throw std::runtime_error("GET /sim/state on port " + std::to_string(FPort) + " failed");
    rapidjson::Document state;
    state.Parse(res->body.c_str(), res->body.size());
    if (res->status != 200 || state.HasParseError() || !state.IsObject()) {
        throw std::runtime_error("GET /sim/state: status " + std::to_string(res->status) + ": " + res->body);
    }
    return state;
}

std::string TSimControl::Post(const std::string& path, const std::string& json) const {
    auto client = ControlClient(FPort);
    const auto res = client.Post(path, json, "application/json");
    if (!res) throw std::runtime_error("POST " + path + " on port " + std::to_string(FPort) + " failed");
    if (res->status < 200 || res->status > 299) {
        throw std::runtime_error("POST " + path + ": status " + std::to_string(res->status) + ": " +
                                 res->body);
    }
    return res->body;
}

TSimProcess::TSimProcess(const std::string& simExe, const std::string& mode,
                         const std::vector<std::string>& args) {
    std::vector<std::string> all{mode};
    all.insert(all.end(), args.begin(), args.end());
    FChild = std::make_unique<TChildProcess>(simExe, all, FDir.File("sim.out"));

    const bool wantUtm = mode != "server";
    const bool wantServer = mode != "utm";
    const std::regex listening(R"((utm|server) listening on 127\.0\.0\.1:(\d+))");
    const bool started = WaitUntil(
        [&] {
            const std::string output = Output();
            for (std::sregex_iterator it(output.begin(), output.end(), listening), end; it != end; ++it) {
                ((*it)[1] == "utm" ? FUtmPort : FServerPort) = std::stoi((*it)[2]);
            }
            return (!wantUtm || FUtmPort != 0) && (!wantServer || FServerPort != 0);
        },
        SimStartLimit);
    if (!started) {
        const auto code = FChild->Wait(std::chrono::milliseconds(0));
        const std::string output = Output();
        StopChild(*FChild, std::chrono::seconds(2));
        throw std::runtime_error("egaiss-sim " + mode +
                                 (code ? " ended with " + std::to_string(*code) : " did not listen") + ": " +
                                 output);
    }
}

TSimProcess::~TSimProcess() {
    if (FChild) StopChild(*FChild, std::chrono::seconds(5));
}

TSimControl TSimProcess::Utm() const {
    if (FUtmPort == 0) throw std::logic_error("this egaiss-sim runs no UTM");
    return TSimControl(FUtmPort);
}

TSimControl TSimProcess::Server() const {
    if (FServerPort == 0) throw std::logic_error("this egaiss-sim runs no server");
    return TSimControl(FServerPort);
}

std::string TSimProcess::UtmBaseURL() const {
    return Utm().BaseURL();
}

std::string TSimProcess::ServerURL() const {
    return Server().BaseURL() + "/api";
}

std::string TSimProcess::Output() const {
    return ReadIfExists(FDir.File("sim.out"));
}

int TSimProcess::Stop(std::chrono::milliseconds grace) {
    return StopChild(*FChild, grace);
}

int StopChild(TChildProcess& child, std::chrono::milliseconds grace) {
    return StopChild(child, grace, SIGTERM);
}

int StopChild(TChildProcess& child, std::chrono::milliseconds grace, int stopSignal) {
    if (const auto code = child.Wait(std::chrono::milliseconds(0))) return *code;
    child.Signal(stopSignal);
    if (const auto code = child.Wait(grace)) return *code;
    child.Signal(SIGKILL);
    const auto code = child.Wait(std::chrono::seconds(10));
    if (!code) throw std::runtime_error("process " + std::to_string(child.Pid()) + " survived SIGKILL");
    return *code;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

TAgentIni AgentIniFor(const TSimProcess& sim) {
    TAgentIni ini;
    ini.ServerURL = sim.ServerURL();
    ini.UtmPort = sim.UtmPort();
    return ini;
}

namespace {

std::string EnvironmentOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

std::string WithoutCarriageReturns(std::string text) {
    std::erase(text, '\r');
    return text;
}

}  // namespace

TAgentFolder::TAgentFolder(const std::string& agentExe, const std::string& subfolder)
    : FRunner(EnvironmentOr("EGAISS_E2E_AGENT_RUNNER", "")),
      FHome(subfolder.empty() ? FDir.Path() : FDir.File(subfolder)) {
    const std::filesystem::path source = Utf8Path(EnvironmentOr("EGAISS_E2E_AGENT_EXE", agentExe));
    std::filesystem::create_directories(Utf8Path(FHome));
    FExe = JoinPath(FHome, PathUtf8(source.filename()));
    std::filesystem::copy_file(source, Utf8Path(FExe));
}

TAgentFolder::~TAgentFolder() {
    if (FHeadless) StopChild(*FHeadless, std::chrono::seconds(15), FRunner.empty() ? SIGTERM : SIGINT);
}

std::string TAgentFolder::File(const std::string& name) const {
    return JoinPath(FHome, name);
}

std::vector<std::string> TAgentFolder::Command(const std::vector<std::string>& args) const {
    std::vector<std::string> command;
    if (!FRunner.empty()) command.push_back(FRunner);
    command.push_back(FExe);
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

void TAgentFolder::WriteIni(const TAgentIni& ini) const {
    WriteFileText(File("agent.ini"), "server_url=" + ini.ServerURL + "\nagent_id=" + ini.AgentID +
                                         "\nagent_secret=" + ini.AgentSecret +
                                         "\nutm_host=127.0.0.1\nutm_port=" + std::to_string(ini.UtmPort) +
                                         "\npoll_seconds=" + std::to_string(ini.PollSeconds) + "\n");
}

std::unique_ptr<TChildProcess> TAgentFolder::Start(const std::vector<std::string>& args,
                                                   const std::string& outputName) const {
    const auto command = Command(args);
    return std::make_unique<TChildProcess>(
        command.front(), std::vector<std::string>(command.begin() + 1, command.end()), File(outputName));
}

std::string TAgentFolder::Output(const TChildProcess& child) {
    return WithoutCarriageReturns(child.Output());
}

TRunResult TAgentFolder::Run(const std::vector<std::string>& args, std::chrono::milliseconds timeout) const {
    const auto command = Command(args);
    TRunResult result = RunProgram(command.front(), {command.begin() + 1, command.end()}, timeout);
    result.Output = WithoutCarriageReturns(std::move(result.Output));
    return result;
}

TChildProcess& TAgentFolder::StartHeadless() {
    if (FHeadless && !FHeadless->Wait(std::chrono::milliseconds(0))) {
        throw std::logic_error("a headless agent already runs in " + FExe);
    }
    FHeadless = Start({"--headless", "-noupdate"}, "headless-" + std::to_string(++FHeadlessRuns) + ".out");
    FHeadlessStopped = false;
    return *FHeadless;
}

int TAgentFolder::StopHeadless(std::chrono::milliseconds grace) {
    if (!FHeadless) throw std::logic_error("no headless agent was started");
    FHeadlessStopped = true;
    return StopChild(*FHeadless, grace, FRunner.empty() ? SIGTERM : SIGINT);
}

std::string TAgentFolder::Log() const {
    return ReadIfExists(File("agent.log"));
}

bool TAgentFolder::WaitForLog(const std::string& text, std::chrono::milliseconds timeout, int count) const {
    bool ended = false;
    const bool found = WaitUntil(
        [&] {
            if (CountOccurrences(Log(), text) >= count) return true;
            // A headless agent that died on its own will not write the line any more.
            ended =
                FHeadless && !FHeadlessStopped && FHeadless->Wait(std::chrono::milliseconds(0)).has_value();
            return ended;
        },
        timeout);
    return found && !ended;
}

int CountOccurrences(const std::string& text, const std::string& needle) {
    int count = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size()))
        ++count;
    return count;
}

std::string JsonText(const rapidjson::Value& object, const char* name) {
    if (!object.IsObject()) return {};
    const auto it = object.FindMember(name);
    if (it == object.MemberEnd() || !it->value.IsString()) return {};
    return {it->value.GetString(), it->value.GetStringLength()};
}

std::int64_t JsonInt(const rapidjson::Value& object, const char* name) {
    if (!object.IsObject()) return 0;
    const auto it = object.FindMember(name);
    return it != object.MemberEnd() && it->value.IsInt64() ? it->value.GetInt64() : 0;
}

const rapidjson::Value& JsonArray(const rapidjson::Value& object, const char* name) {
    static const rapidjson::Value empty(rapidjson::kArrayType);
    if (!object.IsObject()) return empty;
    const auto it = object.FindMember(name);
    return it != object.MemberEnd() && it->value.IsArray() ? it->value : empty;
}

std::string JsonQuote(const std::string& text) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
    return buffer.GetString();
}

}  // namespace egaiss::test
