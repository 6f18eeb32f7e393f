// Inputs for the benchmarks, built deterministically so runs compare.
#include "bench/bench_inputs.h"

#include <string>

std::string MakeInvokeRequest(int argumentCount) {
    std::string text = "<invoke name=\"StartUploadFile\" returntype=\"xml\"><arguments>";
    for (int i = 0; i < argumentCount; ++i) {
        if (i % 3 == 2) {
            text += "<number>" + std::to_string(i * 7) + "</number>";
        } else {
            text +=
                "<string>C:\\Users\\artist\\Models\\part " + std::to_string(i) + ".max</string>";
        }
    }
    text += "</arguments></invoke>";
    return text;
}

std::string MakeStoreConfig(int pairCount) {
    std::string text;
    for (int i = 0; i < pairCount; ++i) {
        text += "Key" + std::to_string(i) + "=value number " + std::to_string(i * 13) + "|";
    }
    return text;
}

std::string MakeDragOutList(int recordCount) {
    std::string text;
    for (int i = 0; i < recordCount; ++i) {
        text += std::to_string(1000 + i) + "*C:\\Plenthra\\Cache\\user\\model_" +
                std::to_string(i) + ".zip*" + std::to_string(123456 + i * 17) + "|";
    }
    return text;
}

std::vector<std::string> MakeArgumentPaths(int pathCount) {
    std::vector<std::string> paths;
    paths.reserve(static_cast<size_t>(pathCount));
    for (int i = 0; i < pathCount; ++i) {
        switch (i % 4) {
            case 0:
                paths.push_back("C:\\Users\\artist\\Documents\\scene" + std::to_string(i) + ".max");
                break;
            case 1:
                paths.push_back("C:\\\\Users\\\\artist \\ Models\\\\\\part" + std::to_string(i));
                break;
            case 2:
                paths.push_back("\\\\server\\share\\ folder \\file " + std::to_string(i) + ".zip");
                break;
            default:
                paths.push_back("D:\\a\\b\\c\\d\\e\\f\\g\\h\\" + std::to_string(i) + "\\\t\\x.txt");
                break;
        }
    }
    return paths;
}

std::string MakeXmlDocument(size_t bytes) {
    std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<pxplugin>\n";
    for (int i = 0; text.size() < bytes; ++i) {
        const std::string n = std::to_string(i);
        text += "  <item id=\"" + n + "\" kind='model' visible=\"yes\">\n";
        text += "    <name>Model &amp; texture " + n + "</name>\n";
        text += "    <path>C:\\\\Models\\\\m" + n + ".max</path>\n";
        text += "    <!-- entry " + n + " -->\n";
        text += "    <size>" + std::to_string(1024 * (i % 97)) + "</size>\n";
        text += "  </item>\n";
    }
    text += "</pxplugin>\n";
    return text;
}
