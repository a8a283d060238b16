// Keeps the library non-empty until the web client lands.
namespace tw::web {
void placeholder() {}
} // namespace tw::web
