// Keeps the library non-empty until the sync window lands.
namespace tw::sync {
void placeholder() {}
} // namespace tw::sync
