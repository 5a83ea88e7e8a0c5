// Callbacks. Functor<R, A1, ..., A7> is a copyable callable whose unused
// trailing argument types are Nil, so one template spells every arity:
// Functor<void, ScheduledItem*, Exception*, Any*, Nil, Nil, Nil, Nil> takes
// three arguments.
#pragma once

#include <functional>
#include <utility>

namespace Basekit {

struct Nil {};

namespace detail {
template <class R, class Done, class... Rest>
struct FunctionOf;
template <class R, class... Done>
struct FunctionOf<R, void(Done...)> {
  using type = std::function<R(Done...)>;
};
template <class R, class... Done, class... Rest>
struct FunctionOf<R, void(Done...), Nil, Rest...> {
  using type = std::function<R(Done...)>;
};
template <class R, class... Done, class A, class... Rest>
struct FunctionOf<R, void(Done...), A, Rest...> {
  using type = typename FunctionOf<R, void(Done..., A), Rest...>::type;
};
}  // namespace detail

template <class R, class A1 = Nil, class A2 = Nil, class A3 = Nil, class A4 = Nil, class A5 = Nil,
          class A6 = Nil, class A7 = Nil>
class Functor {
 public:
  using Function = typename detail::FunctionOf<R, void(), A1, A2, A3, A4, A5, A6, A7>::type;

  Functor() = default;
  template <class F, class = std::enable_if_t<!std::is_same<std::decay_t<F>, Functor>::value>>
  Functor(F&& f) : fn_(std::forward<F>(f)) {}  // NOLINT: implicit by design

  explicit operator bool() const noexcept { return static_cast<bool>(fn_); }
  template <class... Args>
  R operator()(Args&&... args) const {
    return fn_(std::forward<Args>(args)...);
  }

 private:
  Function fn_;
};

}  // namespace Basekit
