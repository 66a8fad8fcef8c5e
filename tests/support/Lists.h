// The program's vectors as standard ones, for comparing in assertions.
//
//   EXPECT_EQ(dltest::Strings(names), (std::vector<std::string>{"a", "b"}));  // VectorS<DString>...
//   EXPECT_EQ(dltest::Items(sizes), (std::vector<int64_t>{1, 2}));            // VectorS<int64_t>
//
// Strings takes any vector of texts with c_str() (DString, TStringNomFitx); both keep the order.
#pragma once

#include <string>
#include <type_traits>
#include <vector>

namespace dltest {

template <class V> std::vector<std::string> Strings(const V& v) {
    std::vector<std::string> out;
    for (int i = 0; i < v.Numero(); ++i)
        out.emplace_back(v[i].c_str());
    return out;
}

template <class V> auto Items(const V& v) {
    std::vector<std::decay_t<decltype(v[0])>> out;
    for (int i = 0; i < v.Numero(); ++i)
        out.push_back(v[i]);
    return out;
}

} // namespace dltest
