#pragma once
// One simulator running in process on 127.0.0.1 with a port of the system's choosing.
#include "uSimHost.h"
#include "uSimJson.h"

#include <httplib.h>

#include <memory>
#include <string>

namespace egaiss::sim::test {

template <class TService, class TSettings>
class TRunningSim {
public:
    explicit TRunningSim(const TSettings& settings, const TFaultSettings& faults = {})
        : FService(std::make_unique<TService>(settings)),
          FHost(std::make_unique<TSimHost>(*FService, faults, 1)) {
        FHost->Bind(0);
        FHost->Start(nullptr);
    }
    ~TRunningSim() { FHost->Stop(); }

    int Port() const { return FHost->Port(); }
    std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(Port()); }
    httplib::Client Client() const {
        httplib::Client client("127.0.0.1", Port());
        client.set_connection_timeout(5);
        client.set_read_timeout(10);
        return client;
    }
    rapidjson::Document State() const {
        rapidjson::Document state;
        auto res = Client().Get("/sim/state");
        if (res) state.Parse(res->body.c_str());
        return state;
    }
    void Faults(const std::string& patch) const { Client().Post("/sim/faults", patch, "application/json"); }

private:
    std::unique_ptr<TService> FService;
    std::unique_ptr<TSimHost> FHost;
};

}  // namespace egaiss::sim::test
