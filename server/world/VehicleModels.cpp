#include "server/world/VehicleModels.h"

#include <array>

namespace velt {

namespace {

constexpr int32_t kAnyModel = 0;

struct ComponentRange {
    int32_t first, last;
    uint8_t slot;
    int32_t model;  // kAnyModel: fits every model
};

// Every tuning part, as runs of consecutive ids sharing a slot and a model.
constexpr ComponentRange kComponentRanges[] = {
    {1000, 1003, 0, kAnyModel},  {1004, 1005, 1, kAnyModel},  {1006, 1006, 2, kAnyModel},
    {1007, 1007, 3, kAnyModel},  {1008, 1010, 5, kAnyModel},  {1011, 1012, 1, kAnyModel},
    {1013, 1013, 4, kAnyModel},  {1014, 1016, 0, kAnyModel},  {1017, 1017, 3, kAnyModel},
    {1018, 1022, 6, kAnyModel},  {1023, 1023, 0, kAnyModel},  {1024, 1024, 4, kAnyModel},
    {1025, 1025, 7, kAnyModel},  {1026, 1027, 3, 560},        {1028, 1029, 6, 560},
    {1030, 1031, 3, 560},        {1032, 1033, 2, 560},        {1034, 1034, 6, 562},
    {1035, 1035, 2, 562},        {1036, 1036, 3, 562},        {1037, 1037, 6, 562},
    {1038, 1038, 2, 562},        {1039, 1041, 3, 562},        {1042, 1042, 3, 575},
    {1043, 1044, 6, 575},        {1045, 1046, 6, 565},        {1047, 1048, 3, 565},
    {1049, 1050, 0, 565},        {1051, 1052, 3, 565},        {1053, 1054, 2, 565},
    {1055, 1055, 2, 561},        {1056, 1057, 3, 561},        {1058, 1058, 0, 561},
    {1059, 1059, 6, 561},        {1060, 1060, 0, 561},        {1061, 1061, 2, 561},
    {1062, 1063, 3, 561},        {1064, 1064, 6, 561},        {1065, 1066, 6, 559},
    {1067, 1068, 2, 559},        {1069, 1072, 3, 559},        {1073, 1085, 7, kAnyModel},
    {1086, 1086, 8, kAnyModel},  {1087, 1087, 9, kAnyModel},  {1088, 1088, 2, 558},
    {1089, 1089, 6, 558},        {1090, 1090, 3, 558},        {1091, 1091, 2, 558},
    {1092, 1092, 6, 558},        {1093, 1095, 3, 558},        {1096, 1098, 7, kAnyModel},
    {1099, 1099, 3, 575},        {1100, 1100, 10, 534},       {1101, 1101, 3, 534},
    {1102, 1102, 3, 567},        {1103, 1103, 2, 536},        {1104, 1105, 6, 536},
    {1106, 1106, 3, 534},        {1107, 1108, 3, 536},        {1109, 1110, 11, 535},
    {1111, 1112, 1, 535},        {1113, 1114, 6, 535},        {1115, 1117, 10, 535},
    {1118, 1121, 3, 535},        {1122, 1122, 3, 534},        {1123, 1123, 10, 534},
    {1124, 1124, 3, 534},        {1125, 1125, 10, 534},       {1126, 1127, 6, 534},
    {1128, 1128, 2, 536},        {1129, 1129, 6, 567},        {1130, 1131, 2, 567},
    {1132, 1132, 6, 567},        {1133, 1133, 3, 567},        {1134, 1134, 3, 576},
    {1135, 1136, 6, 576},        {1137, 1137, 3, 576},        {1138, 1139, 0, 560},
    {1140, 1141, 11, 560},       {1142, 1142, 12, kAnyModel}, {1143, 1143, 13, kAnyModel},
    {1144, 1144, 12, kAnyModel}, {1145, 1145, 13, kAnyModel}, {1146, 1147, 0, 562},
    {1148, 1149, 11, 562},       {1150, 1151, 11, 565},       {1152, 1153, 10, 565},
    {1154, 1154, 11, 561},       {1155, 1155, 10, 561},       {1156, 1156, 11, 561},
    {1157, 1157, 10, 561},       {1158, 1158, 0, 559},        {1159, 1159, 11, 559},
    {1160, 1160, 10, 559},       {1161, 1161, 11, 559},       {1162, 1162, 0, 559},
    {1163, 1164, 0, 558},        {1165, 1166, 10, 558},       {1167, 1168, 11, 558},
    {1169, 1170, 10, 560},       {1171, 1172, 10, 562},       {1173, 1173, 10, 559},
    {1174, 1174, 10, 575},       {1175, 1175, 11, 575},       {1176, 1176, 10, 575},
    {1177, 1177, 11, 575},       {1178, 1178, 11, 534},       {1179, 1179, 10, 534},
    {1180, 1180, 11, 534},       {1181, 1182, 10, 536},       {1183, 1184, 11, 536},
    {1185, 1185, 10, 534},       {1186, 1187, 11, 567},       {1188, 1189, 10, 567},
    {1190, 1191, 10, 576},       {1192, 1193, 11, 576},
};

struct ComponentInfo {
    uint8_t slot = 0;
    int32_t model = kAnyModel;
};

constexpr std::array<ComponentInfo, kComponentCount> BuildComponentTable() {
    std::array<ComponentInfo, kComponentCount> table{};
    for (const ComponentRange& range : kComponentRanges) {
        for (int32_t c = range.first; c <= range.last; ++c)
            table[c - kFirstComponent] = {range.slot, range.model};
    }
    return table;
}

constexpr std::array<ComponentInfo, kComponentCount> kComponents = BuildComponentTable();

const ComponentInfo* FindComponent(int32_t component) {
    if (component < kFirstComponent || component >= kFirstComponent + kComponentCount) return nullptr;
    return &kComponents[component - kFirstComponent];
}

// One model's values: seven vectors, then two single values.
struct ModelInfoRow {
    int32_t model;
    std::array<Vector3, 7> vectors;
    float first, second;
};

// The values of the models this server ships; the game data holds one row per model.
constexpr ModelInfoRow kModelInfoRows[] = {
    {400,
     {{{2.33f, 5.12f, 1.64f},
       {0.33f, 0.03f, -0.2f},
       {0.44f, -0.7f, -0.22f},
       {-1.1f, -2.06f, -0.07f},
       {0.88f, 1.38f, -0.61f},
       {0.88f, -1.39f, -0.61f},
       {0.0f, 0.0f, 0.0f}}},
     -0.49f,
     -0.46f},
    {537, {{{3.33f, 18.43f, 5.2f}, {0.46f, 5.13f, 0.53f}, {}, {}, {}, {}, {}}}, -50.0f, -50.0f},
};

}  // namespace

int ComponentSlot(int32_t component) {
    const ComponentInfo* info = FindComponent(component);
    return info != nullptr ? info->slot : -1;
}

bool ComponentFitsModel(int32_t component, int32_t model) {
    const ComponentInfo* info = FindComponent(component);
    return info != nullptr && (info->model == kAnyModel || info->model == model);
}

std::optional<Vector3> VehicleModelInfo(int32_t model, int32_t kind) {
    if (!IsVehicleModel(model) || kind < 1 || kind > 9) return std::nullopt;
    for (const ModelInfoRow& row : kModelInfoRows) {
        if (row.model != model) continue;
        if (kind <= 7) return row.vectors[kind - 1];
        return Vector3{0.0f, 0.0f, kind == 8 ? row.first : row.second};
    }
    return std::nullopt;
}

}  // namespace velt
