#pragma once
#include "cli/Command.h"
#include "core/Exception.h"

#include <cstdint>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace quendle {

// Turns a function with typed parameters into a table handler: the parsed values are handed
// over in declaration order, a switch as a bool, a trailing rest parameter as the vector of
// everything it took. The table entry names the function that does the work; nothing between
// the parser and that function sees the values as an untyped list.
namespace binding {

template <typename T> struct Signature : Signature<decltype(&T::operator())> {};
template <typename R, typename... A> struct Signature<R (*)(A...)> {
    using Arguments = std::tuple<std::decay_t<A>...>;
};
template <typename C, typename R, typename... A> struct Signature<R (C::*)(A...) const> {
    using Arguments = std::tuple<std::decay_t<A>...>;
};

using Rest = std::vector<std::string>;

template <typename T> constexpr bool isRest = std::is_same_v<T, Rest>;

template <typename T> decltype(auto) argument(const CommandValues& values, size_t index) {
    if constexpr (std::is_same_v<T, bool>)
        return values[index] == "true"; // the parser gives a switch exactly "true" or "false"
    else if constexpr (isRest<T>)
        return Rest(values.begin() + static_cast<std::ptrdiff_t>(index), values.end());
    else
        return static_cast<const std::string&>(values[index]);
}

template <typename F, typename... A, size_t... I>
uint32_t call(const F& function, const CommandValues& values, std::tuple<A...>*, std::index_sequence<I...>) {
    constexpr size_t count = sizeof...(A);
    constexpr bool endsWithRest = count > 0 && isRest<std::tuple_element_t<count - 1, std::tuple<A...>>>;
    // The parser delivers one value per parameter; anything else is a defect of the table.
    bool fits = endsWithRest ? values.size() >= count - 1 : values.size() == count;
    if (!fits)
        throw Exception(Msg::UnexpectedException);
    if constexpr (std::is_void_v<decltype(function(argument<A>(values, I)...))>) {
        function(argument<A>(values, I)...);
        return 0;
    } else {
        return function(argument<A>(values, I)...);
    }
}

} // namespace binding

template <typename F> CommandHandler typedHandler(F function) {
    using Arguments = typename binding::Signature<F>::Arguments;
    return [function](const CommandValues& values) -> uint32_t {
        return binding::call(function, values, static_cast<Arguments*>(nullptr),
                             std::make_index_sequence<std::tuple_size_v<Arguments>>());
    };
}

} // namespace quendle
