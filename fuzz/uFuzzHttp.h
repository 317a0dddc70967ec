#pragma once
// Harnesses of the UTM and server clients compile uFuzzHttp.cpp into their executable. It defines
// the HTTP transport factory of the platform layer, so the real one (libcurl) is never linked and
// every request of the clients gets the answer set here: the client code above the transport runs
// unchanged on the fuzzer's bytes, without a socket.
#include <functional>
#include <string>

#include "clients/uUtmApi.h"
#include "clients/uVelmoraApi.h"
#include "platform/uBytes.h"

namespace egaiss::fuzz {

// The answer every following request gets.
void SetHttpAnswer(int statusCode, const TBytes& body);

// Runs `read` on a client whose requests all get `body` with status 200, the log silenced. An answer
// the reader refuses with an EAgentError is an expected outcome.
void ReadServerAnswer(const TBytes& body, const std::function<void(TVelmoraApi&)>& read);
void ReadUtmAnswer(const TBytes& body, const std::function<void(TUtmApi&)>& read);

// Settings that make a complete agent whose peers are never contacted.
TEgaissConfig FuzzAgentConfig();

}  // namespace egaiss::fuzz
