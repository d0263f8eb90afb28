// Uses each public header of an installed libmvt_xml.
#include <mvt_xml/itt.h>
#include <mvt_xml/writer.h>
#include <mvt_xml/xml.h>

#include <cstring>

int main() {
    __itt_domain* domain = __itt_domain_create("consumer");
    __itt_task_end(domain);
    xml::element root("root", "text");
    bool ok = writer::get_mtc() != nullptr && std::strcmp(__itt_api_version(), "Morvane Collector 0.02") == 0;
    return ok && domain->flags == 1 ? 0 : 1;
}
