// Anchor for the resources that CMake compiles into this library (the string tables).
namespace nimbara {
int resourcesAnchor()
{
    return 0;
}
} // namespace nimbara
