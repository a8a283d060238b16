// Keeps the library non-empty until the About window lands.
namespace tw::about {
void placeholder() {}
} // namespace tw::about
