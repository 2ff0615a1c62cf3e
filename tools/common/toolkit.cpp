// Shared pieces of the encoders.
namespace toolkit {
int placeholder() { return 0; }
}
