#pragma once
// What the server tests share: the engines they run on and a server per suite and engine.

#include "host/errors.h"
#include "host/rpc.h"
#include "server/serverdb.h"
#include "tests/support/server_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>

namespace servertest {

using Engine = vndtest::ServerFixture::Engine;

inline std::string EngineName(const testing::TestParamInfo<Engine> &info)
{
    return info.param == Engine::SQLite ? "SQLite" : "PostgreSQL";
}

// A test suite run on SQLite and on PostgreSQL (skipped without VND_TEST_PG), with one server per engine
// kept for the whole suite and prepared once by Prepare.
class EngineTest : public testing::TestWithParam<Engine>
{
protected:
    void SetUp() override
    {
        if (GetParam() == Engine::PostgreSQL && vndtest::ServerFixture::PostgresUrl().isEmpty())
            GTEST_SKIP() << "VND_TEST_PG não definido: PostgreSQL não testado";
    }
    static void TearDownTestSuite() { Servers().clear(); }

    // The suite's server for this engine; prepare runs once, right after it started.
    vndtest::ServerFixture &Server(const std::function<void(vndtest::ServerFixture &)> &prepare = {})
    {
        auto &slot = Servers()[GetParam()];
        if (!slot) {
            slot = std::make_unique<vndtest::ServerFixture>(GetParam());
            if (prepare)
                prepare(*slot);
        }
        return *slot;
    }

private:
    static std::map<Engine, std::unique_ptr<vndtest::ServerFixture>> &Servers()
    {
        static std::map<Engine, std::unique_ptr<vndtest::ServerFixture>> servers;
        return servers;
    }
};

} // namespace servertest
