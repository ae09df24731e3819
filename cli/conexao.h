#pragma once
// The host's connection settings for a command: the settings file (--config), then the environment,
// then the options, each overriding the one before; they become the session values.

#include "cli/cliargs.h"
#include "host/netconnection.h"

#include <memory>

namespace vnd::cli
{

// Fills the session values from the settings (token read from its file). Exception naming the settings
// file or variable that is wrong; a missing token file is told by Conecta.
void AplicaSessao(const TArgs &args);

// A connection to the server of the session values, open; EConnectionError naming the address.
std::unique_ptr<TNetConnection> Conecta();

// Opens the host's own database (lookups of branches and registers); Exception when it cannot.
void AbreBancoHost(const TArgs &args);

} // namespace vnd::cli
