// A program traced without a single logging call of its own: built with -finstrument-functions
// and linked against the tracing add-on, every function below becomes a function scope in
// trace.log, one call tree per thread. Two workers draw shapes (classes with virtual calls),
// count down recursively and throw out of the recursion, which their caller catches; a global
// palette is built before main and destroyed after it.
//
//   vantrel_trace_demo [--frames N]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

namespace shapes {

class Shape {
  public:
    virtual ~Shape() = default;
    virtual double Area() const = 0;
};

class Circle : public Shape {
  public:
    explicit Circle(double radius) : radius_(radius) {}
    double Area() const override;

  private:
    double radius_;
};

class Square : public Shape {
  public:
    explicit Square(double side) : side_(side) {}
    double Area() const override;

  private:
    double side_;
};

double Circle::Area() const {
    return 3.14159 * radius_ * radius_;
}

double Square::Area() const {
    return side_ * side_;
}

// Built before main and destroyed after it: its scopes stand beside main's in the main
// thread's tree.
class Palette {
  public:
    Palette();
    ~Palette();
    int colours = 0;
};

Palette::Palette() : colours(16) {}
Palette::~Palette() {
    colours = 0;
}

}  // namespace shapes

shapes::Palette palette;

class DepthExceeded : public std::runtime_error {
  public:
    explicit DepthExceeded(int depth);
};

DepthExceeded::DepthExceeded(int depth) : std::runtime_error("depth " + std::to_string(depth)) {}

// Recursion that throws at its bottom: the exception unwinds every level.
int CountDown(int level) {
    if (level == 0) throw DepthExceeded(level);
    return CountDown(level - 1) + 1;
}

class Worker {
  public:
    explicit Worker(int id) : id_(id) {}
    void Run(int frames);
    double DrawFrame(int frame);
    bool TryCountDown(int levels);

  private:
    int id_;
};

double Worker::DrawFrame(int frame) {
    std::vector<std::unique_ptr<shapes::Shape>> scene;
    scene.push_back(std::make_unique<shapes::Circle>(frame + id_));
    scene.push_back(std::make_unique<shapes::Square>(frame * 2.0));
    double total = 0;
    for (const auto& shape : scene) total += shape->Area();
    return total;
}

bool Worker::TryCountDown(int levels) {
    try {
        CountDown(levels);
    } catch (const DepthExceeded&) {
        return false;
    }
    return true;
}

void Worker::Run(int frames) {
    for (int frame = 0; frame < frames; ++frame) DrawFrame(frame);
    TryCountDown(3);
}

int main(int argc, char** argv) {
    int frames = 2;
    if (argc == 3 && strcmp(argv[1], "--frames") == 0) frames = atoi(argv[2]);
    Worker first(1), second(2);
    std::thread one(&Worker::Run, &first, frames);
    std::thread two(&Worker::Run, &second, frames);
    one.join();
    two.join();
    printf("traced %d frames on 2 workers with %d colours; the call trees are in trace.log\n",
           frames, palette.colours);
    return 0;
}
