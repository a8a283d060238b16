// Keeps the library non-empty until the resources lands.
namespace tw::resources {
void placeholder() {}
} // namespace tw::resources
