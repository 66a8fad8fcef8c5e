#pragma once
// The demo scenario's user (tools/scenarios/demo.json), for tests that log in against the world.
namespace dltest::demo {
inline constexpr const char* kUser = "demo@example.com";
inline constexpr const char* kPassword = "demo-password";
inline constexpr const char* kToken = "demo-token-7f3a";
inline constexpr const char* kSession = "demo-session-20240101";
} // namespace dltest::demo
