// Shader scripts (scripts/*.shader) as far as an image's size needs them:
// each shader's editor image and the image of its first drawn stage.
//
//   textures/base/wall      // a comment
//   {
//       qer_editorimage textures/base/wall_ed.tga
//       { map $lightmap }
//       { map textures/base/wall.tga  blendFunc filter }
//   }
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace bsp2map {

struct ShaderImages {
    std::string name;        // lower case, as looked up
    std::string editorImage; // qer_editorimage, or empty
    std::string stageImage;  // the first stage's map or clampmap that is a file, or empty
};

struct ShaderScript {
    std::vector<ShaderImages> shaders; // in the script's order
    // Empty, or why the script ends early (a brace never closed): the shaders
    // before that point are kept.
    std::string problem;
};

ShaderScript readShaderScript(std::string_view text);

// ASCII lower case: the game finds shaders and files whatever their case.
std::string lower(std::string_view text);

} // namespace bsp2map
