// What a screenshot shows, for the browser test of the pictures: how many
// colours, how much of it differs from the background (its most common
// colour), and whether given colours appear. Usage:
//   png_check FILE.png [rrggbb ...]
// prints "colours N ink F" (F the fraction of non-background pixels), then
// "size W H" in pixels, then "rrggbb present|absent" per colour asked for. Exit status 1 when the file
// cannot be read.
#include <png.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: png_check FILE.png [rrggbb ...]\n");
        return 2;
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, argv[1])) {
        fprintf(stderr, "png_check: %s: %s\n", argv[1], image.message);
        return 1;
    }
    image.format = PNG_FORMAT_RGB;
    std::vector<png_byte> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
        fprintf(stderr, "png_check: %s: %s\n", argv[1], image.message);
        return 1;
    }
    std::map<unsigned long, size_t> counts;
    for (size_t i = 0; i + 2 < pixels.size(); i += 3) {
        ++counts[pixels[i] << 16 | pixels[i + 1] << 8 | pixels[i + 2]];
    }
    size_t background = 0;
    for (const auto &c : counts) background = std::max(background, c.second);
    const double total = static_cast<double>(pixels.size() / 3);
    printf("colours %zu ink %.4f\n", counts.size(), total > 0 ? 1 - static_cast<double>(background) / total : 0.0);
    printf("size %u %u\n", image.width, image.height);
    for (int i = 2; i < argc; ++i) {
        const unsigned long want = strtoul(argv[i], nullptr, 16);
        printf("%s %s\n", argv[i], counts.count(want) != 0 ? "present" : "absent");
    }
    return 0;
}
