// Keeps the library non-empty until the main window lands.
namespace tw::directions {
void placeholder() {}
} // namespace tw::directions
